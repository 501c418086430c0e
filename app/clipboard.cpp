#include "app/clipboard.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMimeData>
#include <QUrl>

#include "imaging/qt_bridge.h"

namespace pictovance {

namespace {

constexpr char kGnomeCopiedFiles[] = "x-special/gnome-copied-files";

// Lines of URLs or paths; nullopt as soon as one is neither (ordinary text).
DroppedFileList FilesFromLines(const QStringList& lines, bool pathsMustExist) {
  std::vector<std::string> files;
  for (const QString& raw : lines) {
    const QString line = raw.trimmed();
    if (line.isEmpty()) continue;
    QString path;
    if (line.startsWith(QLatin1String("file:"))) {
      const QUrl url(line);
      if (!url.isLocalFile()) return std::nullopt;
      path = url.toLocalFile();
    } else if (line.startsWith(QLatin1Char('/'))) {
      path = line;
    } else {
      return std::nullopt;
    }
    if (pathsMustExist && !QFileInfo(path).isFile()) return std::nullopt;
    files.push_back(path.toStdString());
  }
  if (files.empty()) return std::nullopt;
  return files;
}

}  // namespace

DroppedFileList ClipboardFiles(const QMimeData* data) {
  if (data == nullptr) return std::nullopt;
  if (DroppedFileList files = DroppedFiles(data)) return files;
  if (data->hasFormat(QLatin1String(kGnomeCopiedFiles))) {
    // "copy" or "cut", then one URL a line.
    QStringList lines =
        QString::fromUtf8(data->data(QLatin1String(kGnomeCopiedFiles))).split(QLatin1Char('\n'));
    if (!lines.isEmpty()) lines.removeFirst();
    if (DroppedFileList files = FilesFromLines(lines, false)) return files;
  }
  // Plain text names files only when every line is one that exists: any
  // other text is not a list of files.
  if (data->hasText()) return FilesFromLines(data->text().split(QLatin1Char('\n')), true);
  return std::nullopt;
}

QImage ClipboardPicture(const QMimeData* data) {
  if (data == nullptr || !data->hasImage()) return QImage();
  return qvariant_cast<QImage>(data->imageData());
}

void CopyPictureToClipboard(const Picture& picture) {
  QGuiApplication::clipboard()->setImage(ToQImage(picture));
}

}  // namespace pictovance
