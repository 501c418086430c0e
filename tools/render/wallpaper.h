// The renderer's --wallpaper: one picture at the screen's size (or at
// --size), saved as a normal saved picture, recipe included, into the
// Wallpapers folder, and set as the desktop's wallpaper; then the pictures
// beyond the newest --keep are removed from that folder.
//
// The picture is picture 0 of the run seed, so `--wallpaper --seed N` paints
// what `--seed N` paints at the same size.
//
// What it does not promise: that the desktop shows the picture at its own
// size (desktop/wallpaper.h), or that the display measured is the one the
// desktop will use when several are reachable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>

#include "generator/form.h"

namespace pictovance::render {

inline constexpr std::size_t kDefaultKeep = 30;

struct WallpaperPlan {
  int width = 0;
  int height = 0;
  std::filesystem::path folder;  // the Wallpapers folder
};

// The canvas size (size, else the reachable display's) and the folder
// (Wallpapers inside picturesFolder, else inside the folder Save uses for
// this program). Without a size and a display: nullopt, and problem says so
// in one line. Call it before any thread starts: a display is probed in a
// child process.
std::optional<WallpaperPlan> PlanWallpaper(std::optional<std::pair<int, int>> size,
                                           const std::optional<std::filesystem::path>& picturesFolder,
                                           std::string& problem);

struct WallpaperSettings {
  std::uint64_t seed = 0;  // the run's seed
  bool effects = true;
  std::filesystem::path folder;  // the Wallpapers folder, ready to write into
  std::size_t keep = kDefaultKeep;
  bool quiet = false;  // no line on stderr saying how it was set
};

// Paints from model (the size and sources set up as for any run), saves,
// prints the path on out, sets it and tidies the folder. Returns 0, or 1
// when the picture could not be painted, written or set (one line on err).
int PaintWallpaper(const FormState& model, const WallpaperSettings& settings, std::ostream& out,
                   std::ostream& err);

}  // namespace pictovance::render
