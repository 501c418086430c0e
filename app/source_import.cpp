#include "app/source_import.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QImageReader>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "app/clipboard.h"
#include "app/main_window.h"
#include "imaging/picture_file.h"

namespace pictovance {

namespace {

QString PictureFilter() {
  QStringList patterns;
  for (const QByteArray& format : QImageReader::supportedImageFormats()) {
    patterns << QStringLiteral("*.") + QString::fromLatin1(format);
  }
  return QStringLiteral("Pictures (%1);;All files (*)").arg(patterns.join(QLatin1Char(' ')));
}

QStringList ChooseWithDialog(QWidget* parent, const QString& folder) {
  return QFileDialog::getOpenFileNames(parent, QStringLiteral("Open source pictures"), folder,
                                       PictureFilter());
}

}  // namespace

SourceImport::SourceImport(MainWindow& window)
    : QObject(&window),
      m_window(window),
      m_chooser(&ChooseWithDialog),
      m_folder(QStandardPaths::writableLocation(QStandardPaths::PicturesLocation)) {}

void SourceImport::OpenFiles() {
  if (m_window.State().Busy) return;
  const QStringList chosen = m_chooser(&m_window, m_folder);
  if (chosen.isEmpty()) return;
  m_folder = QFileInfo(chosen.first()).absolutePath();
  std::vector<std::string> files;
  for (const QString& path : chosen) files.push_back(path.toStdString());
  m_window.LoadDrop(files);
}

void SourceImport::Paste(const QMimeData* data) {
  if (m_window.State().Busy) return;
  if (const DroppedFileList files = ClipboardFiles(data)) {
    m_window.LoadDrop(files);
    return;
  }
  const QImage picture = ClipboardPicture(data);
  if (picture.isNull()) {
    m_window.SetStatus("Nothing to paste");
    return;
  }
  ImportPicture(picture);
}

void SourceImport::ImportPicture(const QImage& picture) {
  QTemporaryDir folder;
  const QString path = folder.filePath(QStringLiteral("pasted.png"));
  // PNG keeps every pixel as it came; the import reads it back like any
  // dropped file, and the folder goes once it has.
  if (!folder.isValid() || !picture.save(path, "PNG")) {
    m_window.LoadDrop(std::nullopt);
    return;
  }
  std::string pixels;
  try {
    Image decoded;
    decoded.LoadBitmap(path.toStdString());
    pixels = PictureSha256(decoded.GetPicture());
  } catch (const ImageError&) {
    // The import fails on it too and says nothing, as for a dropped file.
  }
  FormState& state = m_window.State();
  const std::int32_t before = state.SourceCount;
  m_window.LoadDrop(std::vector<std::string>{path.toStdString()});
  if (pixels.empty() || state.SourceCount != before + 1 || state.SourceFiles.size() != state.Sources.size()) {
    return;
  }
  SourceFile& origin = state.SourceFiles.back();
  origin.name =
      QStringLiteral("pasted picture %1x%2").arg(picture.width()).arg(picture.height()).toStdString();
  origin.bytes = 0;
  origin.sha256 = pixels;
  origin.pasted = true;
}

}  // namespace pictovance
