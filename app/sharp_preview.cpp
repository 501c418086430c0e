#include "app/sharp_preview.h"

#include <cmath>
#include <cstdint>

#include "generator/fit.h"
#include "imaging/qt_bridge.h"

namespace pictovance {

namespace {

std::int32_t Device(double logical, qreal ratio) {
  return static_cast<std::int32_t>(std::lround(logical * ratio));
}

}  // namespace

QImage ComposeSharpPreview(const Picture& full, QSize area, qreal ratio, Colour background) {
  if (full.IsNull() || area.isEmpty() || ratio <= 0) return QImage();
  const std::int32_t width = Device(area.width(), ratio);
  const std::int32_t height = Device(area.height(), ratio);
  // What the core's preview shows, in logical pixels: the picture scaled to
  // this size (or left at its own), then cut to the area about its middle.
  const FitSize fit = FitScaledSize(full.Width(), full.Height(), area.width(), area.height());
  std::int32_t scaledWidth = Device(fit.width, ratio);
  std::int32_t scaledHeight = Device(fit.height, ratio);

  Image copy;
  copy.AssignPicture(full);
  // A very long picture: only the part that shows is scaled, as FitToCanvas
  // does, so the scaled copy stays small.
  if (static_cast<std::int64_t>(scaledWidth) * scaledHeight > kMaxFitScaledPixels) {
    const FitAxis x = FitKeptPart(full.Width(), scaledWidth, width);
    const FitAxis y = FitKeptPart(full.Height(), scaledHeight, height);
    if (x.kept < full.Width() || y.kept < full.Height()) copy.ResizeCanvas(x.kept, y.kept, 4, 0);
    scaledWidth = x.scaled;
    scaledHeight = y.scaled;
  }
  copy.Resize(scaledWidth, scaledHeight);
  copy.ResizeCanvas(width, height, 4, background);
  // The pixels travel with the QImage: it shares them with the copy's
  // picture, which Qt's own sharing keeps alive.
  QImage shown = ToQImage(copy.GetPicture());
  shown.setDevicePixelRatio(ratio);
  return shown;
}

}  // namespace pictovance
