#include "desktop/wallpaper.h"

#include <fcntl.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QObject>
#include <QProcess>
#include <QStringList>
#include <QTimer>
#include <QUrl>
#include <QVariantMap>
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>

namespace pictovance {

namespace fs = std::filesystem;

// Receives the Response signal of one portal request.
class PortalAnswer : public QObject {
  Q_OBJECT

 public:
  std::optional<unsigned> code;

 signals:
  void Arrived();

 public slots:
  void Receive(const QDBusMessage& message) {
    if (code) return;
    const QList<QVariant> arguments = message.arguments();
    code = arguments.isEmpty() ? 2u : arguments.first().toUInt();
    emit Arrived();
  }
};

namespace {

const QString kPortalService = QStringLiteral("org.freedesktop.portal.Desktop");
const QString kPortalPath = QStringLiteral("/org/freedesktop/portal/desktop");
const QString kWallpaperInterface = QStringLiteral("org.freedesktop.portal.Wallpaper");
const QString kRequestInterface = QStringLiteral("org.freedesktop.portal.Request");
const QString kResponse = QStringLiteral("Response");

std::string Seconds(int ms) { return std::to_string((ms + 999) / 1000) + " seconds"; }

struct PortalResult {
  enum Kind { kSet, kAbsent, kFailed } kind;
  std::string reason;  // why it was not set
};

// Errors that say there is no portal for wallpapers here at all.
bool NoWallpaperPortal(const QString& errorName) {
  static const QStringList kAbsent = {
      QStringLiteral("org.freedesktop.DBus.Error.ServiceUnknown"),
      QStringLiteral("org.freedesktop.DBus.Error.NameHasNoOwner"),
      QStringLiteral("org.freedesktop.DBus.Error.UnknownMethod"),
      QStringLiteral("org.freedesktop.DBus.Error.UnknownInterface"),
      QStringLiteral("org.freedesktop.DBus.Error.UnknownObject"),
  };
  return kAbsent.contains(errorName) ||
         errorName.startsWith(QLatin1String("org.freedesktop.DBus.Error.Spawn."));
}

// The request object's path the portal will use for token: announced by
// the portal's interface, so the answer can be listened for before the
// call is made and cannot slip past.
QString RequestPath(const QDBusConnection& bus, const QString& token) {
  QString sender = bus.baseService();
  if (sender.startsWith(QLatin1Char(':'))) sender.remove(0, 1);
  sender.replace(QLatin1Char('.'), QLatin1Char('_'));
  return kPortalPath + QStringLiteral("/request/") + sender + QLatin1Char('/') + token;
}

PortalResult ThroughPortal(const fs::path& file, int waitMs) {
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.isConnected()) return {PortalResult::kAbsent, "no session bus"};
  if (!(bus.connectionCapabilities() & QDBusConnection::UnixFileDescriptorPassing)) {
    return {PortalResult::kAbsent, "the session bus cannot pass files"};
  }
  const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return {PortalResult::kFailed, "cannot open " + file.string() + ": " + std::strerror(errno)};
  }
  const QDBusUnixFileDescriptor descriptor(fd);  // holds a copy of fd
  ::close(fd);

  static std::atomic<int> requests{0};
  const QString token = QStringLiteral("pictovance%1_%2").arg(::getpid()).arg(++requests);
  QString listened = RequestPath(bus, token);
  PortalAnswer answer;
  const auto listen = [&](const QString& path) {
    bus.connect(kPortalService, path, kRequestInterface, kResponse, &answer, SLOT(Receive(QDBusMessage)));
  };
  const auto stopListening = [&] {
    bus.disconnect(kPortalService, listened, kRequestInterface, kResponse, &answer,
                   SLOT(Receive(QDBusMessage)));
  };
  listen(listened);

  QElapsedTimer clock;
  clock.start();
  QDBusMessage call = QDBusMessage::createMethodCall(kPortalService, kPortalPath, kWallpaperInterface,
                                                     QStringLiteral("SetWallpaperFile"));
  const QVariantMap options{{QStringLiteral("show-preview"), false},
                            {QStringLiteral("set-on"), QStringLiteral("both")},
                            {QStringLiteral("handle_token"), token}};
  call << QString() << QVariant::fromValue(descriptor) << options;
  const QDBusMessage reply = bus.call(call, QDBus::Block, waitMs);
  if (reply.type() != QDBusMessage::ReplyMessage) {
    stopListening();
    if (NoWallpaperPortal(reply.errorName())) {
      return {PortalResult::kAbsent, "no desktop portal for wallpapers on the session bus"};
    }
    return {PortalResult::kFailed, "the desktop portal refused: " + reply.errorMessage().toStdString()};
  }
  // Portals older than the request token choose their own path.
  const QString handle = reply.arguments().value(0).value<QDBusObjectPath>().path();
  if (!handle.isEmpty() && handle != listened) {
    stopListening();
    listened = handle;
    listen(listened);
  }
  if (!answer.code) {
    QEventLoop loop;
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    QObject::connect(&answer, &PortalAnswer::Arrived, &loop, &QEventLoop::quit);
    timer.start(static_cast<int>(std::max<qint64>(0, waitMs - clock.elapsed())));
    loop.exec();
  }
  stopListening();
  if (!answer.code)
    return {PortalResult::kFailed, "the desktop portal gave no answer within " + Seconds(waitMs)};
  if (*answer.code == 0) return {PortalResult::kSet, {}};
  return {PortalResult::kFailed, *answer.code == 1 ? "the desktop portal's request was cancelled"
                                                   : "the desktop portal could not set it"};
}

// Runs a desktop tool; nullopt when it succeeded, else why not. out, when
// given, receives what it printed.
std::optional<std::string> RunTool(const QString& program, const QStringList& arguments, int waitMs,
                                   QString* out = nullptr) {
  QProcess process;
  process.setStandardInputFile(QProcess::nullDevice());
  process.start(program, arguments);
  const std::string name = program.toStdString();
  if (!process.waitForStarted(waitMs)) return name + " cannot be run (is it installed?)";
  if (!process.waitForFinished(waitMs)) {
    process.kill();
    process.waitForFinished(1000);
    return name + " did not finish within " + Seconds(waitMs);
  }
  if (out != nullptr) *out = QString::fromLocal8Bit(process.readAllStandardOutput());
  if (process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0) return std::nullopt;
  const QString said =
      QString::fromLocal8Bit(process.readAllStandardError()).trimmed().section(QLatin1Char('\n'), 0, 0);
  return name + " failed" + (said.isEmpty() ? std::string() : ": " + said.toStdString());
}

// A GVariant text string, as gsettings reads values.
QString VariantString(QString text) {
  text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
  text.replace(QLatin1Char('\''), QStringLiteral("\\'"));
  return QLatin1Char('\'') + text + QLatin1Char('\'');
}

std::optional<std::string> ThroughGnome(const fs::path& file, int waitMs) {
  const QString schema = QStringLiteral("org.gnome.desktop.background");
  QString listed;
  if (auto failure =
          RunTool(QStringLiteral("gsettings"), {QStringLiteral("list-keys"), schema}, waitMs, &listed)) {
    return failure;
  }
  const QStringList keys = listed.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  const QString uri =
      VariantString(QUrl::fromLocalFile(QString::fromStdString(file.string())).toString(QUrl::FullyEncoded));
  if (!keys.contains(QStringLiteral("picture-uri"))) return "gsettings has no GNOME background to set";
  // picture-uri-dark came with GNOME 42; older ones have only the first.
  for (const QString& key : {QStringLiteral("picture-uri"), QStringLiteral("picture-uri-dark")}) {
    if (!keys.contains(key)) continue;
    if (auto failure =
            RunTool(QStringLiteral("gsettings"), {QStringLiteral("set"), schema, key, uri}, waitMs)) {
      return failure;
    }
  }
  return std::nullopt;
}

std::optional<std::string> ThroughPlasma(const fs::path& file, int waitMs) {
  return RunTool(QStringLiteral("plasma-apply-wallpaperimage"), {QString::fromStdString(file.string())},
                 waitMs);
}

std::optional<std::string> ThroughXfce(const fs::path& file, int waitMs) {
  const QString channel = QStringLiteral("xfce4-desktop");
  QString listed;
  if (auto failure = RunTool(QStringLiteral("xfconf-query"),
                             {QStringLiteral("-c"), channel, QStringLiteral("-l")}, waitMs, &listed)) {
    return failure;
  }
  QStringList backdrops;
  for (const QString& line : listed.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QString property = line.trimmed();
    if (property.startsWith(QLatin1String("/backdrop/")) && property.endsWith(QLatin1String("/last-image"))) {
      backdrops << property;
    }
  }
  if (backdrops.isEmpty()) return "xfconf-query lists no backdrop to set";
  for (const QString& property : backdrops) {
    if (auto failure = RunTool(QStringLiteral("xfconf-query"),
                               {QStringLiteral("-c"), channel, QStringLiteral("-p"), property,
                                QStringLiteral("-s"), QString::fromStdString(file.string())},
                               waitMs)) {
      return failure;
    }
  }
  return std::nullopt;
}

// The desktop XDG_CURRENT_DESKTOP names first among those with a way of
// their own.
std::optional<WallpaperWay> DesktopOwnWay() {
  const QStringList names =
      qEnvironmentVariable("XDG_CURRENT_DESKTOP").split(QLatin1Char(':'), Qt::SkipEmptyParts);
  for (const QString& name : names) {
    const QString upper = name.trimmed().toUpper();
    if (upper == QLatin1String("GNOME")) return WallpaperWay::kGnome;
    if (upper == QLatin1String("KDE")) return WallpaperWay::kPlasma;
    if (upper == QLatin1String("XFCE")) return WallpaperWay::kXfce;
  }
  return std::nullopt;
}

}  // namespace

std::string_view WayName(WallpaperWay way) {
  switch (way) {
    case WallpaperWay::kPortal:
      return "the desktop portal";
    case WallpaperWay::kGnome:
      return "GNOME's settings";
    case WallpaperWay::kPlasma:
      return "KDE Plasma";
    case WallpaperWay::kXfce:
      return "Xfce's settings";
  }
  return "an unknown way";
}

WallpaperOutcome SetWallpaper(const fs::path& file, const WallpaperWaits& waits) {
  std::error_code error;
  const fs::path absolute = fs::absolute(file, error);
  if (error || !fs::is_regular_file(absolute, error)) {
    return {std::nullopt, "cannot set the wallpaper: " + file.string() + " is not a picture file"};
  }
  const PortalResult portal = ThroughPortal(absolute, waits.portalMs);
  if (portal.kind == PortalResult::kSet) return {WallpaperWay::kPortal, {}};

  const std::string prefix = "cannot set the wallpaper: " + portal.reason;
  const std::optional<WallpaperWay> way = DesktopOwnWay();
  if (!way) {
    const QString desktop = qEnvironmentVariable("XDG_CURRENT_DESKTOP");
    return {std::nullopt, prefix + "; without a portal only GNOME, KDE Plasma and Xfce can be set, and " +
                              (desktop.isEmpty() ? std::string("XDG_CURRENT_DESKTOP names no desktop")
                                                 : "this desktop is \"" + desktop.toStdString() + "\"")};
  }
  std::optional<std::string> failure;
  switch (*way) {
    case WallpaperWay::kGnome:
      failure = ThroughGnome(absolute, waits.toolMs);
      break;
    case WallpaperWay::kPlasma:
      failure = ThroughPlasma(absolute, waits.toolMs);
      break;
    case WallpaperWay::kXfce:
      failure = ThroughXfce(absolute, waits.toolMs);
      break;
    case WallpaperWay::kPortal:
      break;
  }
  if (failure) return {std::nullopt, prefix + "; " + *failure};
  return {way, {}};
}

}  // namespace pictovance

#include "wallpaper.moc"
