#include "desktop/wallpaper_folder.h"

#include <algorithm>
#include <cstdint>
#include <exception>
#include <optional>
#include <system_error>
#include <tuple>

#include "canvas/recipe.h"
#include "canvas/whole_number.h"
#include "imaging/picture_file.h"

namespace pictovance {

namespace {

namespace fs = std::filesystem;

constexpr std::string_view kExtension = ".png";
// Save's names grow to at most 16 digits.
constexpr std::size_t kMinDigits = 2;
constexpr std::size_t kMaxDigits = 16;

struct SavedPicture {
  fs::path path;
  std::uint64_t seconds;
  std::string name;

  // Newer first: later second, then the name written later in that second
  // (longer names come after the shorter ones run out), then the name.
  bool operator<(const SavedPicture& other) const {
    return std::make_tuple(other.seconds, other.name.size(), std::string_view(other.name)) <
           std::make_tuple(seconds, name.size(), std::string_view(name));
  }
};

std::optional<std::uint64_t> SecondsOf(std::string_view name) {
  if (!IsSavedPictureName(name)) return std::nullopt;
  return ParseWhole<std::uint64_t>(name.substr(0, name.find('-')));
}

bool CarriesRecipe(const fs::path& path) {
  try {
    ParseRecipe(ReadPngTexts(path.string()));
    return true;
  } catch (const std::exception&) {  // not a PNG, no recipe, unreadable: not ours
    return false;
  }
}

}  // namespace

fs::path WallpaperFolderIn(const fs::path& picturesFolder) { return picturesFolder / "Wallpapers"; }

bool IsSavedPictureName(std::string_view name) {
  if (!name.ends_with(kExtension)) return false;
  name.remove_suffix(kExtension.size());
  const auto dash = name.find('-');
  if (dash == std::string_view::npos || dash == 0) return false;
  const std::string_view seconds = name.substr(0, dash);
  const std::string_view digits = name.substr(dash + 1);
  const auto isDecimal = [](char c) { return c >= '0' && c <= '9'; };
  const auto isHex = [&](char c) { return isDecimal(c) || (c >= 'A' && c <= 'F'); };
  return std::all_of(seconds.begin(), seconds.end(), isDecimal) && digits.size() >= kMinDigits &&
         digits.size() <= kMaxDigits && std::all_of(digits.begin(), digits.end(), isHex);
}

WallpaperCleanup KeepNewestWallpapers(const fs::path& folder, std::size_t keep, const fs::path& current) {
  WallpaperCleanup cleanup;
  std::error_code error;
  const fs::path kept = fs::weakly_canonical(current, error);
  bool currentHere = false;
  std::vector<SavedPicture> pictures;
  for (fs::directory_iterator entry(folder, error); !error && entry != fs::directory_iterator();
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    const auto seconds = SecondsOf(name);
    std::error_code statusError;
    if (!seconds || !fs::is_regular_file(entry->symlink_status(statusError))) continue;
    if (fs::weakly_canonical(entry->path(), statusError) == kept) {
      currentHere = true;
      continue;
    }
    if (!CarriesRecipe(entry->path())) continue;
    pictures.push_back({entry->path(), *seconds, name});
  }
  if (error) {
    cleanup.failures.push_back("cannot read the folder " + folder.string() + ": " + error.message());
    return cleanup;
  }
  const std::size_t slots = keep - std::min<std::size_t>(keep, currentHere ? 1 : 0);
  if (pictures.size() <= slots) return cleanup;
  std::sort(pictures.begin(), pictures.end());
  for (std::size_t k = slots; k < pictures.size(); ++k) {
    if (fs::remove(pictures[k].path, error)) {
      cleanup.removed.push_back(pictures[k].path);
    } else if (error) {
      cleanup.failures.push_back("cannot remove " + pictures[k].path.string() + ": " + error.message());
    }
  }
  return cleanup;
}

}  // namespace pictovance
