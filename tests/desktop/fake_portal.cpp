// A stand-in for the desktop portal's wallpaper interface, for the tests:
// it takes the portal's name on the session bus, runs the command given,
// and ends with the command's exit status.
//
//   fake-portal RECORD_DIR ANSWER -- COMMAND [ARGUMENT]...
//
// Each SetWallpaperFile call is recorded in RECORD_DIR (made, or emptied
// of an earlier record, at the start): "call" holds one
// line per call ("parent=..." and the options, "key=value", sorted), and
// "received.png" the bytes read through the file descriptor passed. The
// request is answered with the Response ANSWER (0 set, 2 failed) on the
// request path the real portal would use.

#include <unistd.h>

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStringList>
#include <QVariantMap>
#include <cstdio>

class FakeWallpaperPortal : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.portal.Wallpaper")

 public:
  FakeWallpaperPortal(QString recordDir, unsigned answer)
      : m_recordDir(std::move(recordDir)), m_answer(answer) {}

 public slots:
  QDBusObjectPath SetWallpaperFile(const QString& parent, const QDBusUnixFileDescriptor& file,
                                   const QVariantMap& options, const QDBusMessage& message) {
    QStringList fields{QStringLiteral("parent=") + parent};
    for (auto option = options.begin(); option != options.end(); ++option) {
      fields << option.key() + QLatin1Char('=') + option.value().toString();
    }
    // Each record is closed (so written out) before the answer goes back:
    // the caller reads it as soon as it has the answer.
    QFile call(m_recordDir + QStringLiteral("/call"));
    if (call.open(QIODevice::Append)) {
      call.write((fields.join(QLatin1Char(' ')) + QLatin1Char('\n')).toUtf8());
      call.close();
    }

    QByteArray bytes;
    char buffer[65536];
    off_t offset = 0;
    for (ssize_t got; (got = ::pread(file.fileDescriptor(), buffer, sizeof buffer, offset)) > 0;
         offset += got) {
      bytes.append(buffer, got);
    }
    QFile received(m_recordDir + QStringLiteral("/received.png"));
    if (received.open(QIODevice::WriteOnly)) {
      received.write(bytes);
      received.close();
    }

    QString sender = message.service().mid(1);
    sender.replace(QLatin1Char('.'), QLatin1Char('_'));
    const QString handle = QStringLiteral("/org/freedesktop/portal/desktop/request/") + sender +
                           QLatin1Char('/') + options.value(QStringLiteral("handle_token")).toString();
    // The reply first, then the answer, as the portal sends them.
    message.setDelayedReply(true);
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.send(message.createReply(QVariant::fromValue(QDBusObjectPath(handle))));
    QDBusMessage response = QDBusMessage::createSignal(
        handle, QStringLiteral("org.freedesktop.portal.Request"), QStringLiteral("Response"));
    response << m_answer << QVariantMap();
    bus.send(response);
    return {};
  }

 private:
  QString m_recordDir;
  unsigned m_answer;
};

int main(int argc, char** argv) {
  QCoreApplication application(argc, argv);
  const QStringList arguments = application.arguments();
  if (arguments.size() < 5 || arguments[3] != QLatin1String("--")) {
    std::fprintf(stderr, "usage: fake-portal RECORD_DIR ANSWER -- COMMAND [ARGUMENT]...\n");
    return 2;
  }
  // A fresh record for every run.
  const QDir record(arguments[1]);
  if (!record.mkpath(QStringLiteral(".")) || !record.exists() ||
      (record.exists(QStringLiteral("call")) && !QFile::remove(record.filePath(QStringLiteral("call"))))) {
    std::fprintf(stderr, "fake-portal: cannot use %s\n", qPrintable(arguments[1]));
    return 2;
  }
  QFile::remove(record.filePath(QStringLiteral("received.png")));
  FakeWallpaperPortal portal(arguments[1], arguments[2].toUInt());
  QDBusConnection bus = QDBusConnection::sessionBus();
  if (!bus.registerObject(QStringLiteral("/org/freedesktop/portal/desktop"), &portal,
                          QDBusConnection::ExportAllSlots) ||
      !bus.registerService(QStringLiteral("org.freedesktop.portal.Desktop"))) {
    std::fprintf(stderr, "fake-portal: cannot take the portal's name: %s\n",
                 qPrintable(bus.lastError().message()));
    return 2;
  }

  QProcess command;
  command.setProcessChannelMode(QProcess::ForwardedChannels);
  command.setInputChannelMode(QProcess::ForwardedInputChannel);
  QObject::connect(&command, &QProcess::finished, &application, [&](int code, QProcess::ExitStatus status) {
    application.exit(status == QProcess::NormalExit ? code : 128);
  });
  QObject::connect(&command, &QProcess::errorOccurred, &application, [&](QProcess::ProcessError error) {
    if (error == QProcess::FailedToStart) application.exit(127);
  });
  command.start(arguments[4], arguments.mid(5));
  return application.exec();
}

#include "fake_portal.moc"
