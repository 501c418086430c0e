#include "desktop/results_folder.h"

#include <unistd.h>

#include <QStandardPaths>
#include <algorithm>
#include <array>
#include <string_view>
#include <system_error>

#include "app_info.h"
#include "imaging/image.h"

namespace pictovance {

namespace {

// The top-level folders that belong to the system and its package manager.
constexpr std::array<std::string_view, 9> kSystemFolders = {"usr",   "opt",   "bin",    "sbin", "lib",
                                                            "lib32", "lib64", "libx32", "snap"};

// folder is absolute and lexically normal.
bool UnderSystemFolder(const std::filesystem::path& folder) {
  const std::filesystem::path relative = folder.relative_path();
  if (relative.empty()) return false;
  const std::string top = relative.begin()->string();
  return std::find(kSystemFolders.begin(), kSystemFolders.end(), top) != kSystemFolders.end();
}

}  // namespace

bool IsInstalledProgramFolder(const std::filesystem::path& programFolder) {
  std::error_code error;
  const std::filesystem::path lexical = std::filesystem::absolute(programFolder, error).lexically_normal();
  // Both spellings count: /bin is a link to /usr/bin on merged systems, and
  // a link from elsewhere may point into /opt.
  const std::filesystem::path resolved = std::filesystem::weakly_canonical(lexical, error);
  if (UnderSystemFolder(lexical) || (!error && UnderSystemFolder(resolved))) return true;
  std::filesystem::path folder = lexical;
  if (!folder.has_filename()) folder = folder.parent_path();
  if (folder.filename() != "bin") return false;
  const std::filesystem::path entry =
      folder.parent_path() / "share" / "applications" / (std::string(kApplicationId) + ".desktop");
  return std::filesystem::is_regular_file(entry, error);
}

std::filesystem::path ResultsFolderFor(const std::filesystem::path& programFolder) {
  // access() answers for the file system too: a read-only mount is
  // unwritable even for root, whom permission bits do not stop.
  if (!IsInstalledProgramFolder(programFolder) && ::access(programFolder.c_str(), W_OK | X_OK) == 0) {
    return programFolder;
  }
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
