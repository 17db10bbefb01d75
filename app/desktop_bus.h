// The program on the desktop's session bus: one running player at a time
// (a second start hands its song to the first and ends), and the media keys
// and player controls of the desktop (MPRIS 2) acting on the shown window's
// transport buttons. Without a session bus none of this exists and the
// program runs on its own, saying nothing.
#pragma once

#include <QByteArray>

namespace plimra::app {

// The bus name the running player owns.
inline constexpr char kBusName[] = "org.mpris.MediaPlayer2.plimra";

// Asks a player that already runs to open `path` (a song or a folder, as
// the file system's bytes; empty: only to come to the front). True when it
// took it, so this start should end.
bool handOverToRunningPlayer(const QByteArray& path);

// Claims the bus name and offers the player controls. Call once the MIDI
// window exists. False (and nothing registered) without a session bus or
// when another player holds the name.
bool startDesktopControls();

// `path` as a file URI, byte for byte (bytes that are not valid UTF-8 are
// percent-encoded like any other), and back.
QByteArray fileUri(const QByteArray& path);
QByteArray pathFromFileUri(const QByteArray& uri);

}  // namespace plimra::app
