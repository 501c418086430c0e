#include "app/wallpaper_actions.h"

#include <utility>
#include <vector>

#include "canvas/result_file.h"
#include "desktop/results_folder.h"
#include "desktop/screen_size.h"
#include "desktop/wallpaper.h"
#include "desktop/wallpaper_folder.h"
#include "generator/fit.h"

namespace pictovance {

namespace {

// The way, short enough for the status line.
std::string ShortWayName(WallpaperWay way) {
  switch (way) {
    case WallpaperWay::kPortal:
      return "desktop portal";
    case WallpaperWay::kGnome:
      return "GNOME settings";
    case WallpaperWay::kPlasma:
      return "KDE Plasma";
    case WallpaperWay::kXfce:
      return "Xfce settings";
  }
  return "?";
}

WallpaperReport Report(Form& form, bool set, std::string status, std::string details) {
  form.SetStatus(status);
  return {set, std::move(status), std::move(details)};
}

// Holds Busy while the desktop is asked, and clears it however that ends.
class BusyWhile {
 public:
  explicit BusyWhile(FormState& state) : m_state(state) { m_state.Busy = true; }
  ~BusyWhile() { m_state.Busy = false; }
  BusyWhile(const BusyWhile&) = delete;
  BusyWhile& operator=(const BusyWhile&) = delete;

 private:
  FormState& m_state;
};

// Copies of sources at exactly the screen's size. Fitting leaves a picture
// of exactly the screen's proportions at its own size, so such a copy is
// scaled to the screen on top.
std::vector<Image> FittedToScreen(const std::vector<Image>& sources, ScreenPixels screen) {
  std::vector<Image> fitted;
  for (const Image& source : sources) {
    Image copy;
    copy.AssignPicture(source.GetPicture());
    copy.SetBackColor(std::to_string(source.BackColor()));
    FitToCanvas(screen.width, screen.height, copy);
    if (copy.Width() != screen.width || copy.Height() != screen.height)
      copy.Resize(screen.width, screen.height);
    fitted.push_back(std::move(copy));
  }
  return fitted;
}

// Lends the state sources fitted to the screen and the screen's size for
// one new picture, and gives the state its own back however the painting
// ends.
class ScreenSizedCanvas {
 public:
  ScreenSizedCanvas(FormState& state, std::vector<Image> fitted, ScreenPixels screen)
      : m_state(state),
        m_sources(std::exchange(state.Sources, std::move(fitted))),
        m_files(state.SourceFiles),
        m_fixed(state.FixedSize),
        m_width(state.CanvasW),
        m_height(state.CanvasH) {
    for (SourceFile& file : state.SourceFiles) {
      file.fitted = true;
      file.limitW = screen.width;
      file.limitH = screen.height;
    }
    state.FixedSize = true;
    state.CanvasW = screen.width;
    state.CanvasH = screen.height;
  }
  ~ScreenSizedCanvas() {
    m_state.Sources = std::move(m_sources);
    m_state.SourceFiles = std::move(m_files);
    m_state.FixedSize = m_fixed;
    m_state.CanvasW = m_width;
    m_state.CanvasH = m_height;
  }
  ScreenSizedCanvas(const ScreenSizedCanvas&) = delete;
  ScreenSizedCanvas& operator=(const ScreenSizedCanvas&) = delete;

 private:
  FormState& m_state;
  std::vector<Image> m_sources;
  std::vector<SourceFile> m_files;
  bool m_fixed;
  std::int32_t m_width;
  std::int32_t m_height;
};

WallpaperReport SaveAndSet(FormState& state, Form& form, Random& names,
                           const std::filesystem::path& resultsFolder) {
  const BusyWhile busy(state);
  const std::filesystem::path folder = WallpaperFolderIn(resultsFolder);
  MakeResultsFolder(folder);
  const std::filesystem::path file = SaveResultPicture(*state.Result, folder, names);
  const WallpaperOutcome outcome = SetWallpaper(file);
  if (!outcome.Set()) return Report(form, false, "Error: wallpaper not set", "Error: " + outcome.error);
  return Report(form, true, "Wallpaper set: " + ShortWayName(*outcome.way),
                "Wallpaper set through " + std::string(WayName(*outcome.way)) + ": " + file.string());
}

}  // namespace

WallpaperReport SetShownAsWallpaper(FormState& state, Form& form, Random& names,
                                    const std::filesystem::path& resultsFolder) {
  if (state.Busy) return {};
  if (!state.Result) return Report(form, false, "Nothing to set", "There is no picture to set as wallpaper");
  return SaveAndSet(state, form, names, resultsFolder);
}

WallpaperReport PaintNewWallpaper(FormState& state, Form& form, PictureHistory& history, std::uint64_t seed,
                                  Random& names, const std::filesystem::path& resultsFolder) {
  if (state.Busy) return {};
  const std::optional<ScreenPixels> screen = ScreenPixelSize();
  if (!screen) return Report(form, false, "Error: no screen found", "Error: there is no screen to measure");
  {
    const ScreenSizedCanvas canvas(state, FittedToScreen(state.Sources, *screen), *screen);
    history.PaintNew(state, form, seed);
  }
  if (!state.Result) return {};
  return SaveAndSet(state, form, names, resultsFolder);
}

}  // namespace pictovance
