#include "generator/preview.h"

#include <charconv>

#include "generator/fit.h"
#include "generator/random.h"

namespace pictovance {

Colour ColourFromTag(const std::string& tag) {
  long long value = 0;
  const char* first = tag.data();
  const char* last = tag.data() + tag.size();
  while (first < last && *first == ' ') ++first;
  while (last > first && last[-1] == ' ') --last;
  const auto [end, ec] = std::from_chars(first, last, value);
  if (first == last || ec != std::errc() || end != last || value < INT32_MIN || value > INT32_MAX) {
    throw ImageError(kErrorInvalidArgument, "Not a colour number: \"" + tag + "\"");
  }
  return static_cast<Colour>(value);
}

void ShowPreview(const Image& canvas, Form& form) {
  if (!form.PreviewSeen()) return;
  Image copy;
  copy.AssignPicture(canvas.GetPicture());
  FitToCanvas(RoundHalfEven(form.PreviewScaleWidth()), RoundHalfEven(form.PreviewScaleHeight()), copy);
  const std::int32_t width = RoundHalfEven(form.PreviewScaleWidth());
  const std::int32_t height = RoundHalfEven(form.PreviewScaleHeight());
  copy.ResizeCanvas(width, height, 4, ColourFromTag(form.PreviewTag()));
  form.ShowPicture(copy.GetPicture());
}

}  // namespace pictovance
