#include "app/desktop_bus.h"

#include <sys/stat.h>
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
#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/filenames.h"
#include "ui/player.h"
#include "ui/windows.h"

namespace plimra::app {

namespace {

using ui::PlayerRequest;
using ui::PlayerState;

constexpr char kObjectPath[] = "/org/mpris/MediaPlayer2";
constexpr char kRootInterface[] = "org.mpris.MediaPlayer2";
constexpr char kPlayerInterface[] = "org.mpris.MediaPlayer2.Player";
constexpr int kCallTimeoutMs = 5000;

QString playbackStatus(const PlayerState& s) {
  switch (s.status) {
    case PlayerState::Status::Playing:
      return QStringLiteral("Playing");
    case PlayerState::Status::Paused:
      return QStringLiteral("Paused");
    default:
      return QStringLiteral("Stopped");
  }
}

PlayerState shownState() { return ui::shownPlayer().playerState(); }

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
    QTimer::singleShot(0, [] { ui::raiseShownWindow(); });
  }
  // The exit handlers end the process at once, so the reply must have
  // reached the bus first: a round trip to the bus after it (messages leave
  // in order) makes sure it has.
  void Quit() {
    QTimer::singleShot(0, [] {
      QDBusConnection::sessionBus().interface()->isServiceRegistered(QString::fromLatin1(kBusName));
      ui::exitFromShownWindow();
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
  Q_PROPERTY(bool CanSeek READ canSeek)
  Q_PROPERTY(bool CanControl READ canControl)

 public:
  explicit PlayerAdaptor(QObject* parent) : QDBusAbstractAdaptor(parent) {}

  QString playbackStatusNow() const { return playbackStatus(shownState()); }
  double rate() const { return 1.0; }
  bool canControl() const { return true; }
  // A song or track with a known length can be moved in.
  bool canSeek() const { return shownState().lengthMs > 0; }
  qlonglong position() const { return shownState().positionMs * 1000; }
  QVariantMap metadata() const { return metadataOf(shownState()); }

  // A path element may hold only letters, digits and underscores.
  static QDBusObjectPath trackIdOf(const PlayerState& n) {
    const QByteArray id = n.key.toUtf8().toHex();
    return QDBusObjectPath(QStringLiteral("/org/plimra/track/t") +
                           QString::fromLatin1(id.left(200)));
  }

  static QVariantMap metadataOf(const PlayerState& n) {
    QVariantMap m;
    if (n.key.isEmpty()) {
      m.insert(QStringLiteral("mpris:trackid"),
               QVariant::fromValue(QDBusObjectPath("/org/mpris/MediaPlayer2/TrackList/NoTrack")));
      return m;
    }
    m.insert(QStringLiteral("mpris:trackid"), QVariant::fromValue(trackIdOf(n)));
    m.insert(QStringLiteral("xesam:title"), n.title);
    // The song's whole words, for the desktop's own lyric display.
    if (n.lyrics && !n.lyrics->lines.empty())
      m.insert(QStringLiteral("xesam:asText"), QString::fromStdString(n.lyrics->text()));
    if (!n.file.isEmpty())
      m.insert(QStringLiteral("xesam:url"),
               QString::fromLatin1(fileUri(platform::nativePath(n.file))));
    if (n.lengthMs > 0) m.insert(QStringLiteral("mpris:length"), qlonglong{n.lengthMs} * 1000);
    return m;
  }

 signals:
  void Seeked(qlonglong Position);
  void acted();

 public slots:
  // Each acts after the reply has left: the caller must not wait for what
  // a start does.
  void Next() { later(PlayerRequest::Next); }
  void Previous() { later(PlayerRequest::Previous); }
  void Pause() { later(PlayerRequest::Pause); }
  void PlayPause() { later(PlayerRequest::PlayPause); }
  void Stop() { later(PlayerRequest::Stop); }
  void Play() { later(PlayerRequest::Play); }
  // By an offset in microseconds; before the start is the start, past the
  // end is the next song or track.
  void Seek(qlonglong Offset) {
    QTimer::singleShot(0, this, [this, Offset] {
      const PlayerState s = shownState();
      if (s.lengthMs <= 0) return;
      const int64_t target = std::max<int64_t>(0, s.positionMs + Offset / 1000);
      if (target > s.lengthMs)
        ui::shownPlayer().request(PlayerRequest::Next);
      else
        seekTo(target);
      emit acted();
    });
  }
  // To a place in microseconds in the song or track the id names; another
  // id, or a place outside it, is ignored.
  void SetPosition(const QDBusObjectPath& TrackId, qlonglong Position) {
    QTimer::singleShot(0, this, [this, TrackId, Position] {
      const PlayerState s = shownState();
      if (s.lengthMs <= 0 || TrackId != trackIdOf(s) || Position < 0 ||
          Position / 1000 > s.lengthMs)
        return;
      seekTo(Position / 1000);
    });
  }
  void OpenUri(const QString& uri) {
    const QByteArray path = pathFromFileUri(uri.toLatin1());
    if (path.isEmpty()) {
      sendErrorReply(QDBusError::InvalidArgs, QStringLiteral("not a local file: ") + uri);
      return;
    }
    QTimer::singleShot(0, this, [this, path] {
      ui::openFromOutside(platform::pathFromNative(path));
      emit acted();
    });
  }

 private:
  void seekTo(int64_t positionMs) {
    if (ui::shownPlayer().seek(positionMs)) emit Seeked(shownState().positionMs * 1000);
  }

  void later(PlayerRequest request) {
    QTimer::singleShot(0, this, [this, request] {
      ui::shownPlayer().request(request);
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
    const PlayerState s = shownState();
    QVariantMap changed;
    const QString status = playbackStatus(s);
    if (status != status_) {
      status_ = status;
      changed.insert(QStringLiteral("PlaybackStatus"), status);
    }
    if (s.key != key_ || s.lengthMs != lengthMs_) {
      key_ = s.key;
      lengthMs_ = s.lengthMs;
      changed.insert(QStringLiteral("Metadata"), PlayerAdaptor::metadataOf(s));
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
  int64_t lengthMs_ = -1;
};

// Whether the desktop has a session bus: its address is set, or its socket
// is where the user's services find it. Without one, asking for the bus
// would have libdbus start a bus of its own through the X server, which
// takes milliseconds before the window shows and serves no desktop.
bool desktopHasSessionBus() {
  if (!qgetenv("DBUS_SESSION_BUS_ADDRESS").isEmpty()) return true;
  const QByteArray runtime = qgetenv("XDG_RUNTIME_DIR");
  struct stat st {};
  return !runtime.isEmpty() && ::stat((runtime + "/bus").constData(), &st) == 0 &&
         S_ISSOCK(st.st_mode);
}

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
  if (!desktopHasSessionBus()) return false;
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
  if (!desktopHasSessionBus()) return false;
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
