// For the window only: a picture handle as a QImage, to put it on screen.
// The core never needs this header.
#pragma once

#include <QImage>

#include "imaging/image.h"

namespace pictovance {

// The picture's pixels (shared, not copied); a null QImage for a null
// handle.
QImage ToQImage(const Picture& picture);

}  // namespace pictovance
