// Setting a picture file as the desktop's wallpaper, for the desktop and
// the lock screen both.
//
// The desktop portal comes first (org.freedesktop.portal.Wallpaper on the
// session bus, given the file's descriptor, without a preview): GNOME and
// KDE Plasma answer it, and so does the host of a Flatpak sandbox. Where no
// portal sets it, the desktop named by XDG_CURRENT_DESKTOP is asked its own
// way: GNOME through gsettings (picture-uri and picture-uri-dark of
// org.gnome.desktop.background), KDE Plasma through
// plasma-apply-wallpaperimage, Xfce through xfconf-query (every backdrop's
// last-image). Otherwise the answer is a one-line error naming the
// desktops that can be set.
//
// Needs a QCoreApplication (QtDBus does), and runs its event loop while it
// waits for the portal's answer, at most portalMs; each desktop tool is
// given at most toolMs.
//
// What it does not promise: that the desktop shows the file at once (some
// fade it in), how the picture is placed on the screen (the desktop's own
// setting stays), or that a portal which answers late has not set it after
// all.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace pictovance {

enum class WallpaperWay { kPortal, kGnome, kPlasma, kXfce };

// How it was set, in a few words: "the desktop portal", "GNOME's
// settings", "KDE Plasma", "Xfce's settings".
std::string_view WayName(WallpaperWay way);

struct WallpaperOutcome {
  std::optional<WallpaperWay> way;  // set, and how; empty when it was not set
  std::string error;                // when not set: one line saying why

  bool Set() const { return way.has_value(); }
};

struct WallpaperWaits {
  int portalMs = 30000;
  int toolMs = 15000;
};

WallpaperOutcome SetWallpaper(const std::filesystem::path& file, const WallpaperWaits& waits = {});

}  // namespace pictovance
