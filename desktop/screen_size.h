// The screen's size in pixels, for a wallpaper that fills it: the logical
// size of a screen times its device pixel ratio, of the largest screen when
// there are several (largest by pixels, so a small screen with a high ratio
// can win over a larger one at ratio 1).
//
// The window asks its own QGuiApplication. A program without one (the
// renderer) asks through ProbeScreenPixelSize, which opens the display in a
// child process: Qt ends a process whose display cannot be reached, and a
// stale DISPLAY or WAYLAND_DISPLAY (a timer started before the desktop) must
// not end the program, nor print Qt's messages.
//
// What it does not promise: that the size is the one the desktop will show
// the picture at (a desktop may span one picture over every screen, or zoom
// it), or that a screen larger than the canvas allows keeps its exact size:
// such a size is scaled down, proportions kept, to kMaxScreenSide.
#pragma once

#include <optional>
#include <vector>

namespace pictovance {

// The largest side a canvas may have.
inline constexpr int kMaxScreenSide = 9999;

struct ScreenPixels {
  int width = 0;
  int height = 0;

  bool operator==(const ScreenPixels&) const = default;
};

// One screen as Qt describes it.
struct LogicalScreen {
  int width = 0;  // device-independent pixels
  int height = 0;
  double pixelRatio = 1.0;
};

// The largest screen's size in pixels; nullopt without a screen of at
// least one pixel.
std::optional<ScreenPixels> LargestScreenPixels(const std::vector<LogicalScreen>& screens);

// From the running QGuiApplication's screens; nullopt when there is no
// QGuiApplication or no screen.
std::optional<ScreenPixels> ScreenPixelSize();

// From a QGuiApplication made in a child process, on the platform Qt would
// choose here (QT_QPA_PLATFORM, WAYLAND_DISPLAY, DISPLAY). nullopt when none
// of those is set, when the display cannot be opened, or when it does not
// answer within timeoutMs. Call it before this process starts threads.
std::optional<ScreenPixels> ProbeScreenPixelSize(int timeoutMs = 10000);

}  // namespace pictovance
