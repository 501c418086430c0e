#include "tools/render/wallpaper.h"

#include <QCoreApplication>
#include <system_error>
#include <tuple>

#include "desktop/results_folder.h"
#include "desktop/screen_size.h"
#include "desktop/wallpaper.h"
#include "desktop/wallpaper_folder.h"
#include "tools/render/batch.h"

namespace pictovance::render {

namespace {

constexpr int kExitFailure = 1;

// The folder that holds this program, which decides where Save's pictures
// go, as it does for the window.
std::filesystem::path ProgramFolder() {
  std::error_code error;
  const std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
  return error ? std::filesystem::current_path(error) : self.parent_path();
}

}  // namespace

std::optional<WallpaperPlan> PlanWallpaper(std::optional<std::pair<int, int>> size,
                                           const std::optional<std::filesystem::path>& picturesFolder,
                                           std::string& problem) {
  WallpaperPlan plan;
  if (size) {
    std::tie(plan.width, plan.height) = *size;
  } else if (const auto screen = ProbeScreenPixelSize()) {
    plan.width = screen->width;
    plan.height = screen->height;
  } else {
    problem = "no display can be reached to measure the screen: --wallpaper needs --size WxH here";
    return std::nullopt;
  }
  plan.folder = WallpaperFolderIn(picturesFolder ? *picturesFolder : ResultsFolderFor(ProgramFolder()));
  return plan;
}

int PaintWallpaper(const FormState& model, const WallpaperSettings& settings, std::ostream& out,
                   std::ostream& err) {
  std::filesystem::path path;
  try {
    Painter painter(model, settings.effects, FreshSeed());
    path = RenderPicture(painter, settings.seed, 0, settings.folder);
  } catch (const ImageError& error) {
    err << "pictovance-render: " << error.Description() << "\n";
    return kExitFailure;
  }
  out << path.string() << std::endl;

  // QtDBus needs an application. It is made only after the painting: it
  // sets the process's C locale from the environment, which the painting
  // and the recipe's texts should never see.
  static int argc = 1;
  static char name[] = "pictovance-render";
  static char* argv[] = {name, nullptr};
  const QCoreApplication application(argc, argv);
  const WallpaperOutcome outcome = SetWallpaper(path);
  if (!outcome.Set()) {
    err << "pictovance-render: " << outcome.error << "\n";
    return kExitFailure;
  }
  if (!settings.quiet) err << "pictovance-render: wallpaper set through " << WayName(*outcome.way) << "\n";
  // Only once the new one is set: until then an older picture may still be
  // the wallpaper.
  for (const std::string& failure : KeepNewestWallpapers(settings.folder, settings.keep, path).failures) {
    err << "pictovance-render: " << failure << "\n";
  }
  return 0;
}

}  // namespace pictovance::render
