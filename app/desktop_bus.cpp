#include "app/desktop_bus.h"

#include <unistd.h>

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusContext>
#include <QDBusInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QObject>
#include <QStringList>
#include <QTimer>
#include <QVariantMap>
#include <cstdlib>
#include <memory>
#include <string>

#include "media/control/mmcontrol.h"
#include "media/mci/device_table.h"
#include "media/mci/mci.h"
#include "platform/filenames.h"
#include "ui/cd_window.h"
#include "ui/midi_window.h"
#include "ui/windows.h"

namespace plimra::app {

namespace {

using control::MMControl;
using ui::cdWindow;
using ui::midiWindow;

constexpr char kObjectPath[] = "/org/mpris/MediaPlayer2";
constexpr char kRootInterface[] = "org.mpris.MediaPlayer2";
constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";
constexpr int kCallTimeoutMs = 5000;

// The window the user sees, and so the one the desktop's controls act on.
struct Shown {
  kit::Form* window;
  MMControl* control;
  bool cd;
};

Shown shownWindow() {
  ui::MidiWindow* midi = midiWindow();
  if (!midi->isVisible()) {
    ui::CdWindow* cd = cdWindow();
    if (cd->isVisible()) return {cd, cd->transport, true};
  }
  return {midi, midi->transport, false};
}

// "mm:ss:ff" (or fewer fields) as microseconds; 75 frames a second.
qlonglong msfTextToMicros(const std::string& text) {
  long fields[3] = {0, 0, 0};
  int n = 0;
  size_t i = 0;
  while (i < text.size() && n < 3) {
    long v = 0;
    bool any = false;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && v < 100000) {
      v = v * 10 + (text[i++] - '0');
      any = true;
    }
    if (!any) break;
    fields[n++] = v;
    if (i < text.size() && text[i] == ':') ++i;
  }
  if (n < 2) return 0;
  const long frames = n == 3 ? fields[2] : 0;
  return (static_cast<qlonglong>(fields[0]) * 60 + fields[1]) * 1000000 + frames * 1000000 / 75;
}

// A status item of the CD window's device ("current track", "time format",
// "length track 3"); empty when the device does not answer.
std::string cdStatus(const std::string& item) {
  std::string reply;
  if (mci::DeviceTable::instance().sendString("status cdaudio " + item, reply) != mci::err::None)
    return {};
  return reply;
}

QString playbackStatus(const Shown& s) {
  switch (s.control->Mode()) {
    case mci::ModePlaying:
      return QStringLiteral("Playing");
    case mci::ModePaused:
      return QStringLiteral("Paused");
    default:
      return QStringLiteral("Stopped");
  }
}

// What plays: the song's name or "Track N", and its length. Empty when
// nothing is open.
struct NowPlaying {
  QString key;  // changes when another song or track plays
  QString title;
  QString url;
  qlonglong lengthMicros = 0;
};

NowPlaying nowPlaying(const Shown& s) {
  NowPlaying n;
  if (s.control->DeviceID() == 0) return n;
  if (!s.cd) {
    const QString song = midiWindow()->playingSong();
    if (song.isEmpty()) return n;
    n.key = song;
    n.title = platform::displayName(song.mid(song.lastIndexOf(u'/') + 1));
    n.url = QString::fromLatin1(fileUri(platform::nativePath(song)));
    if (s.control->TimeFormat() == static_cast<int32_t>(mci::TimeFormat::Milliseconds))
      n.lengthMicros = static_cast<qlonglong>(s.control->Length()) * 1000;
    return n;
  }
  const long track = std::atol(cdStatus("current track").c_str());
  if (track <= 0) return n;
  n.key = QStringLiteral("track %1").arg(track);
  n.title = QStringLiteral("Track %1").arg(track);
  n.lengthMicros = msfTextToMicros(cdStatus("length track " + std::to_string(track)));
  return n;
}

qlonglong positionMicros(const Shown& s) {
  if (s.control->DeviceID() == 0) return 0;
  const uint32_t pos = s.control->Position();
  if (!s.cd)
    return s.control->TimeFormat() == static_cast<int32_t>(mci::TimeFormat::Milliseconds)
               ? static_cast<qlonglong>(pos) * 1000
               : 0;
  // The CD window keeps the device in tmsf: track, minutes, seconds, frames.
  if (cdStatus("time format") != "tmsf") return 0;
  return (static_cast<qlonglong>(mci::tmsfMinute(pos)) * 60 + mci::tmsfSecond(pos)) * 1000000 +
         static_cast<qlonglong>(mci::tmsfFrame(pos)) * 1000000 / 75;
}

// Play as the Play button would; in the MIDI window with nothing open (the
// button is disabled then) the selected song, or the first, starts as a
// double-click would start it.
void play(const Shown& s) {
  if (s.control->Mode() == mci::ModePaused) {
    s.control->click(MMControl::Pause);
    return;
  }
  if (s.control->Mode() == mci::ModePlaying) return;
  if (!s.cd && !s.control->buttonEnabled(MMControl::Play)) {
    ui::MidiWindow* w = midiWindow();
    if (w->fileList->ListCount() == 0) return;
    if (w->fileList->ListIndex() < 0) w->fileList->setListIndex(0);
    w->onFileActivated();
    return;
  }
  s.control->click(MMControl::Play);
}

class Service;

class RootAdaptor : public QDBusAbstractAdaptor {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2")
  Q_PROPERTY(bool CanQuit READ canQuit)
  Q_PROPERTY(bool CanRaise READ canRaise)
  Q_PROPERTY(bool HasTrackList READ hasTrackList)
  Q_PROPERTY(QString Identity READ identity)
  Q_PROPERTY(QString DesktopEntry READ desktopEntry)
  Q_PROPERTY(QStringList SupportedUriSchemes READ uriSchemes)
  Q_PROPERTY(QStringList SupportedMimeTypes READ mimeTypes)

 public:
  explicit RootAdaptor(QObject* parent) : QDBusAbstractAdaptor(parent) {}
  bool canQuit() const { return true; }
  bool canRaise() const { return true; }
  bool hasTrackList() const { return false; }
  QString identity() const { return QStringLiteral("Plimra"); }
  QString desktopEntry() const { return QStringLiteral("org.plimra.Plimra"); }
  QStringList uriSchemes() const { return {QStringLiteral("file")}; }
  QStringList mimeTypes() const {
    return {QStringLiteral("audio/midi"), QStringLiteral("audio/x-midi")};
  }

 public slots:
  void Raise() {
    QTimer::singleShot(0, [] {
      kit::Form* w = shownWindow().window;
      if (w->WindowState() == 1) w->setWindowState(0);
      w->raise();
      w->activateWindow();
    });
  }
  // The exit handlers end the process at once, so the reply must have
  // reached the bus first: a round trip to the bus after it (messages leave
  // in order) makes sure it has.
  void Quit() {
    QTimer::singleShot(0, [] {
      QDBusConnection::sessionBus().interface()->isServiceRegistered(QString::fromLatin1(kBusName));
      const Shown s = shownWindow();
      if (s.cd)
        cdWindow()->onExit();
      else
        midiWindow()->onExit();
    });
  }
};

class PlayerAdaptor : public QDBusAbstractAdaptor, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.mpris.MediaPlayer2.Player")
  Q_PROPERTY(QString PlaybackStatus READ playbackStatusNow)
  Q_PROPERTY(double Rate READ rate)
  Q_PROPERTY(double MinimumRate READ rate)
  Q_PROPERTY(double MaximumRate READ rate)
  Q_PROPERTY(double Volume READ rate)
  Q_PROPERTY(QVariantMap Metadata READ metadata)
  Q_PROPERTY(qlonglong Position READ position)
  Q_PROPERTY(bool CanGoNext READ canControl)
  Q_PROPERTY(bool CanGoPrevious READ canControl)
  Q_PROPERTY(bool CanPlay READ canControl)
  Q_PROPERTY(bool CanPause READ canControl)
  Q_PROPERTY(bool CanSeek READ cannot)
  Q_PROPERTY(bool CanControl READ canControl)

 public:
  explicit PlayerAdaptor(QObject* parent) : QDBusAbstractAdaptor(parent) {}

  QString playbackStatusNow() const { return playbackStatus(shownWindow()); }
  double rate() const { return 1.0; }
  bool canControl() const { return true; }
  bool cannot() const { return false; }
  qlonglong position() const { return positionMicros(shownWindow()); }
  QVariantMap metadata() const { return metadataOf(nowPlaying(shownWindow())); }

  static QVariantMap metadataOf(const NowPlaying& n) {
    QVariantMap m;
    if (n.key.isEmpty()) {
      m.insert(QStringLiteral("mpris:trackid"),
               QVariant::fromValue(QDBusObjectPath("/org/mpris/MediaPlayer2/TrackList/NoTrack")));
      return m;
    }
    // A path element may hold only letters, digits and underscores.
    const QByteArray id = n.key.toUtf8().toHex();
    m.insert(QStringLiteral("mpris:trackid"),
             QVariant::fromValue(QDBusObjectPath(QStringLiteral("/org/plimra/track/t") +
                                                 QString::fromLatin1(id.left(200)))));
    m.insert(QStringLiteral("xesam:title"), n.title);
    if (!n.url.isEmpty()) m.insert(QStringLiteral("xesam:url"), n.url);
    if (n.lengthMicros > 0) m.insert(QStringLiteral("mpris:length"), n.lengthMicros);
    return m;
  }

 signals:
  void Seeked(qlonglong Position);
  void acted();

 public slots:
  // Each acts after the reply has left: a start can wait for its reset song
  // in a nested event loop, and the caller must not wait for that.
  void Next() {
    later([](const Shown& s) { s.control->click(MMControl::Next); });
  }
  void Previous() {
    later([](const Shown& s) { s.control->click(MMControl::Prev); });
  }
  void Pause() {
    later([](const Shown& s) {
      if (s.control->Mode() == mci::ModePlaying) s.control->click(MMControl::Pause);
    });
  }
  void PlayPause() {
    later([](const Shown& s) {
      if (s.control->Mode() == mci::ModePlaying)
        s.control->click(MMControl::Pause);
      else
        play(s);
    });
  }
  void Stop() {
    later([](const Shown& s) { s.control->click(MMControl::Stop); });
  }
  void Play() { later(play); }
  void Seek(qlonglong /*Offset*/) {}
  void SetPosition(const QDBusObjectPath& /*TrackId*/, qlonglong /*Position*/) {}
  void OpenUri(const QString& uri) {
    const QByteArray path = pathFromFileUri(uri.toLatin1());
    if (path.isEmpty()) {
      sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("not a local file: ") + uri);
      return;
    }
    QTimer::singleShot(0, this, [this, path] {
      if (cdWindow()->isVisible()) cdWindow()->onMidiPlayer();
      midiWindow()->playFromOutside(platform::pathFromNative(path));
      emit acted();
    });
  }

 private:
  template <typename F>
  void later(F f) {
    QTimer::singleShot(0, this, [this, f] {
      f(shownWindow());
      emit acted();
    });
  }
};

// The object on the bus: tells the desktop when the status or the song
// changes (the desktop asks for the position itself, as it should).
class Service : public QObject {
  Q_OBJECT
 public:
  Service() {
    new RootAdaptor(this);
    player_ = new PlayerAdaptor(this);
    connect(player_, &PlayerAdaptor::acted, this, &Service::announce);
    connect(&poll_, &QTimer::timeout, this, &Service::announce);
    poll_.start(250);
  }

 private slots:
  void announce() {
    const Shown s = shownWindow();
    QVariantMap changed;
    const QString status = playbackStatus(s);
    if (status != status_) {
      status_ = status;
      changed.insert(QStringLiteral("PlaybackStatus"), status);
    }
    const NowPlaying n = nowPlaying(s);
    if (n.key != key_ || n.lengthMicros != lengthMicros_) {
      key_ = n.key;
      lengthMicros_ = n.lengthMicros;
      changed.insert(QStringLiteral("Metadata"), PlayerAdaptor::metadataOf(n));
    }
    if (changed.isEmpty()) return;
    QDBusMessage signal = QDBusMessage::createSignal(
        QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.DBus.Properties"),
        QStringLiteral("PropertiesChanged"));
    signal << QString::fromLatin1(kPlayerInterface) << changed << QStringList();
    QDBusConnection::sessionBus().send(signal);
  }

 private:
  PlayerAdaptor* player_;
  QTimer poll_;
  QString status_;
  QString key_;
  qlonglong lengthMicros_ = -1;
};

QByteArray absolutePath(const QByteArray& path) {
  if (path.startsWith('/')) return path;
  std::string cwd(4096, '\0');
  if (!::getcwd(cwd.data(), cwd.size())) return path;
  QByteArray dir(cwd.c_str());
  if (!dir.endsWith('/')) dir += '/';
  return dir + path;
}

}  // namespace

QByteArray fileUri(const QByteArray& path) {
  return QByteArrayLiteral("file://") + path.toPercentEncoding("/");
}

QByteArray pathFromFileUri(const QByteArray& uri) {
  if (!uri.startsWith("file://")) return {};
  QByteArray rest = uri.mid(7);
  if (rest.startsWith("localhost/")) rest = rest.mid(9);
  if (!rest.startsWith('/')) return {};
  return QByteArray::fromPercentEncoding(rest);
}

bool handOverToRunningPlayer(const QByteArray& path) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  const QDBusReply<bool> held = bus.interface()->isServiceRegistered(QString::fromLatin1(kBusName));
  if (!held.isValid() || !held.value()) return false;
  if (!path.isEmpty()) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        QString::fromLatin1(kBusName), QString::fromLatin1(kObjectPath),
        QString::fromLatin1(kPlayerInterface), QStringLiteral("OpenUri"));
    call << QString::fromLatin1(fileUri(absolutePath(path)));
    if (bus.call(call, QDBus::Block, kCallTimeoutMs).type() != QDBusMessage::ReplyMessage)
      return false;
  }
  QDBusMessage raise = QDBusMessage::createMethodCall(
      QString::fromLatin1(kBusName), QString::fromLatin1(kObjectPath),
      QString::fromLatin1(kRootInterface), QStringLiteral("Raise"));
  bus.call(raise, QDBus::Block, kCallTimeoutMs);
  return true;
}

bool startDesktopControls() {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return false;
  auto service = std::make_unique<Service>();
  if (!bus.registerObject(QString::fromLatin1(kObjectPath), service.get(),
                          QDBusConnection::ExportAdaptors))
    return false;
  if (!bus.registerService(QString::fromLatin1(kBusName))) {
    bus.unregisterObject(QString::fromLatin1(kObjectPath));
    return false;
  }
  service.release();  // lives as long as the program
  return true;
}

}  // namespace plimra::app

#include "desktop_bus.moc"
