// Where wallpapers are kept, and how old ones go: a folder "Wallpapers"
// inside the pictures folder, holding saved pictures like any other (named
// as Save names them, each carrying its recipe), of which the newest are
// kept and the older ones removed.
//
// Only this program's saved pictures are ever removed: regular files (not
// links, not folders) named "<seconds>-<hexadecimal digits>.png" as Save
// names them, whose PNG text chunks carry a recipe this program reads.
// Everything else in the folder is left alone, whatever its name; so is a
// picture whose name is claimed but whose file is not written yet.
//
// What it does not promise: an order among pictures of the same second
// beyond their names, or that a file is not changed by someone else between
// its check and its removal.
#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace pictovance {

// "Wallpapers" inside picturesFolder.
std::filesystem::path WallpaperFolderIn(const std::filesystem::path& picturesFolder);

// A name of the form Save gives: decimal seconds, "-", 2 to 16 upper-case
// hexadecimal digits, ".png".
bool IsSavedPictureName(std::string_view name);

struct WallpaperCleanup {
  std::vector<std::filesystem::path> removed;
  std::vector<std::string> failures;  // one line each, for what could not be removed
};

// Keeps the `keep` newest saved pictures in folder, counting current (the
// wallpaper just set, never removed whatever its name says), and removes
// the older ones. Newest by the seconds in the name, then by the name. A
// folder that cannot be read is one failure.
WallpaperCleanup KeepNewestWallpapers(const std::filesystem::path& folder, std::size_t keep,
                                      const std::filesystem::path& current);

}  // namespace pictovance
