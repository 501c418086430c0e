#include "desktop/results_folder.h"

#include <unistd.h>

#include <QStandardPaths>
#include <system_error>

#include "imaging/image.h"

namespace pictovance {

std::filesystem::path ResultsFolderFor(const std::filesystem::path& programFolder) {
  // access() answers for the file system too: a read-only mount is
  // unwritable even for root, whom permission bits do not stop.
  if (::access(programFolder.c_str(), W_OK | X_OK) == 0) return programFolder;
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  return std::filesystem::path(pictures.toStdString()) / "Pictovance";
}

void MakeResultsFolder(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder, error);
  if (error) {
    throw ImageError(kErrorWriteFailed,
                     "Cannot create the folder " + folder.string() + ": " + error.message(), error.value());
  }
}

}  // namespace pictovance
