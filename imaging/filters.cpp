#include "imaging/bitmap_p.h"

namespace pictovance {

namespace {
[[noreturn]] void NotBuilt(const char* name) {
  throw ImageError(kErrorInvalidArgument, std::string("Filter not built yet: ") + name);
}
}  // namespace

void Image::EnhanceDetail() { NotBuilt("EnhanceDetail"); }
void Image::EnhanceFocus() { NotBuilt("EnhanceFocus"); }
void Image::FocusRestoration() { NotBuilt("FocusRestoration"); }
void Image::Equalize() { NotBuilt("Equalize"); }
void Image::EqualizeOnLuminance() { NotBuilt("EqualizeOnLuminance"); }
void Image::Negative() { NotBuilt("Negative"); }
void Image::FlipHorizontal() { NotBuilt("FlipHorizontal"); }
void Image::FlipVertical() { NotBuilt("FlipVertical"); }
void Image::LogCorrection() { NotBuilt("LogCorrection"); }
void Image::EdgeDetectLight() { NotBuilt("EdgeDetectLight"); }
void Image::EdgeDetectMedium() { NotBuilt("EdgeDetectMedium"); }
void Image::EdgeDetectHeavy() { NotBuilt("EdgeDetectHeavy"); }
void Image::Emboss() { NotBuilt("Emboss"); }
void Image::EmbossMore() { NotBuilt("EmbossMore"); }
void Image::Balance(std::int32_t) { NotBuilt("Balance"); }
void Image::hue(std::int32_t) { NotBuilt("hue"); }
void Image::saturation(std::int32_t) { NotBuilt("saturation"); }
void Image::Blur(std::int32_t) { NotBuilt("Blur"); }
void Image::GaussianBlur(std::int32_t) { NotBuilt("GaussianBlur"); }
void Image::brightness(std::int32_t) { NotBuilt("brightness"); }
void Image::contrast(std::int32_t) { NotBuilt("contrast"); }
void Image::lightness(std::int32_t) { NotBuilt("lightness"); }
void Image::Sharpen(std::int32_t) { NotBuilt("Sharpen"); }
void Image::Sepia(std::int32_t, Colour) { NotBuilt("Sepia"); }
void Image::Gamma(double) { NotBuilt("Gamma"); }

}  // namespace pictovance
