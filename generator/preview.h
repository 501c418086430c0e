// The preview: a copy of a finished picture fitted to the preview area,
// padded or trimmed to exactly its inner size, and handed to the form.
// The picture itself is only read. A form whose preview nobody sees gets
// none.
#pragma once

#include <string>

#include "generator/form.h"
#include "imaging/image.h"

namespace pictovance {

void ShowPreview(const Image& canvas, Form& form);

// The preview background colour kept as decimal text in the preview's tag.
// Text that is not a whole number raises ImageError.
Colour ColourFromTag(const std::string& tag);

}  // namespace pictovance
