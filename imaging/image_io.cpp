// Writing an image's bitmap to files.

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QBuffer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageReader>
#include <QImageWriter>
#include <algorithm>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <span>
#include <vector>

#include "imaging/bitmap_p.h"
#include "imaging/image.h"
#include "imaging/new_file.h"
#include "imaging/png_encoder.h"

namespace pictovance {

// --- Files ------------------------------------------------------------------

// Reading lives in imaging/load_picture.cpp.

namespace {

struct SaveFormatInfo {
  const char* format;
  const char* extension;
};

SaveFormatInfo SaveFormatOf(std::int32_t code) {
  switch (code) {
    case 0:
      return {"bmp", ".bmp"};
    case 1:
      return {"jpeg", ".jpg"};
    case 2:
      return {"tiff", ".tif"};
    case 3:
      return {"png", ".png"};
    case 4:
      return {"webp", ".webp"};
    default:
      throw ImageError(kErrorWriteFailed, "Unknown save format " + std::to_string(code));
  }
}

// The bytes of the file the bitmap makes in a save format: the PNG
// encoder's, or a Qt image writer's for the other formats.
struct EncodedFile {
  PngPieces png;
  QByteArray other;
  std::vector<std::span<const char>> Pieces() const {
    std::vector<std::span<const char>> pieces;
    for (const auto& piece : png) pieces.emplace_back(reinterpret_cast<const char*>(piece.data()), piece.size());
    if (png.empty()) pieces.emplace_back(other.constData(), static_cast<std::size_t>(other.size()));
    return pieces;
  }
};

// error, told about the file the caller asked for rather than the folder.
ImageError NamingTheFile(const ImageError& error, const std::string& target) {
  if (error.SystemError() == 0) return error;
  return ImageError(kErrorWriteFailed, "Cannot write " + target + ": " + std::strerror(error.SystemError()),
                    error.SystemError());
}

EncodedFile Encode(const QImage& image, const SaveFormatInfo& info, int pngCompression, const TextEntries& texts,
                   const std::string& target) {
  if (image.isNull()) throw ImageError(kErrorWriteFailed, "No picture to save");
  EncodedFile file;
  if (std::string_view(info.format) == "png") {
    file.png = EncodePngPieces(image, pngCompression, texts);
    return file;
  }
  QBuffer buffer(&file.other);
  buffer.open(QIODevice::WriteOnly);
  QImage tagged = image;  // the texts ride on a shallow copy
  for (const auto& [key, value] : texts) tagged.setText(QString::fromUtf8(key), QString::fromUtf8(value));
  QImageWriter writer(&buffer, info.format);
  if (!writer.write(tagged)) {
    throw ImageError(kErrorWriteFailed, "Cannot write " + target + ": " + writer.errorString().toStdString());
  }
  buffer.close();
  return file;
}

}  // namespace

void Image::SaveBitmap(const std::string& path) const {
  const SaveFormatInfo info = SaveFormatOf(m_saveFormat);
  std::filesystem::path target(path);
  if (!target.has_extension()) target += info.extension;
  const EncodedFile bytes = Encode(m_bitmap->image, info, m_pngCompression, m_texts, target.string());
  try {
    // Replacing a file needs a name to rename from: the hidden, locked one.
    NewFile file(target.parent_path(), bytes.Pieces(), NewFile::Way::kHiddenTemporary);
    file.ReplaceAs(target.filename().string());
  } catch (const ImageError& error) {
    throw NamingTheFile(error, target.string());
  }
}

NewFile Image::SaveBitmapUnnamed(const std::string& folder) const {
  const SaveFormatInfo info = SaveFormatOf(m_saveFormat);
  const EncodedFile bytes = Encode(m_bitmap->image, info, m_pngCompression, m_texts, folder);
  return NewFile(folder, bytes.Pieces());
}

std::string Image::SaveExtension() const { return SaveFormatOf(m_saveFormat).extension; }

void LoadImageFormats() {
  // Asking for the formats makes Qt create every plugin's instance.
  QImageReader::supportedImageFormats();
  QImageWriter::supportedImageFormats();
}

}  // namespace pictovance
