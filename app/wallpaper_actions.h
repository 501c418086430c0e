// The window's two wallpaper commands, for the preview's context menu.
// "Set as wallpaper" sets the picture shown, as it is. "Paint a wallpaper"
// paints a new picture with the window's settings (colours, sources,
// finishing pass) at the screen's size in pixels, shows it and keeps it in
// the way back like any new picture, and sets it. Either way the picture is
// first saved as a saved picture like any other, recipe included, into
// Wallpapers inside the folder Save writes into; no dialog opens.
//
// The status line says, in a few words, how the wallpaper was set or that
// it was not; the whole message (the file and the way, or the one-line
// error) is handed back for the status line's tooltip. An image error
// while painting or saving propagates, as for Save, for the window to show.
// Busy is held while the desktop is asked, so no other command runs then.
//
// What it does not promise: that "Paint a wallpaper" paints the same
// pixels as the renderer's --again from the picture's recipe when it was
// painted from dropped pictures. The window keeps those fitted to its own
// canvas, and they are fitted once more, to the screen; from the files,
// each is fitted once.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>

#include "canvas/history.h"
#include "generator/form.h"
#include "generator/random.h"

namespace pictovance {

struct WallpaperReport {
  bool set = false;
  std::string status;   // what the status line now says; empty when nothing was done
  std::string details;  // for the tooltip: the file and the way, or the error
};

// "Set as wallpaper": unless Busy, saves state.Result (its recipe
// included) into WallpaperFolderIn(resultsFolder) under a fresh result
// name drawn from names, and sets it; "Nothing to set" without a result.
// The result stays the picture shown.
WallpaperReport SetShownAsWallpaper(FormState& state, Form& form, Random& names,
                                    const std::filesystem::path& resultsFolder);

// "Paint a wallpaper": unless Busy, paints a new picture from seed through
// history (PictureHistory::PaintNew) at the size ScreenPixelSize() gives,
// the sources fitted to that size, then saves and sets it as
// SetShownAsWallpaper does. The window's own size and sources are as
// before afterwards.
WallpaperReport PaintNewWallpaper(FormState& state, Form& form, PictureHistory& history, std::uint64_t seed,
                                  Random& names, const std::filesystem::path& resultsFolder);

}  // namespace pictovance
