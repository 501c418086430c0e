#include <string>

#include "imaging/bitmap_p.h"

namespace pictovance {

void Image::ChangeColorDepth(std::int32_t count, std::int32_t kind, std::int32_t dither) {
  (void)count;
  (void)dither;
  switch (kind) {
    case 0:
    case kKindWorking:
      if (BitmapType() == kKindPalette) {
        QImage converted = m_bitmap->image.convertToFormat(QImage::Format_RGB32);
        if (converted.isNull()) throw ImageError(kErrorOutOfMemory, "Not enough memory to convert the picture");
        m_bitmap->image = std::move(converted);
        RefreshCache();
      }
      return;
    default:
      throw ImageError(kErrorInvalidArgument, "Unknown bitmap kind " + std::to_string(kind));
  }
}

}  // namespace pictovance
