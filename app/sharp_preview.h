// The preview at the screen's own pixel density. The core composes the
// preview at the area's size in logical pixels (396 x 296), which a screen
// at scale 2 can only show as blocks of 2 x 2 equal pixels. This composes
// the same view again from the full picture, at the area's size in device
// pixels: the fitting rule decides, at the logical size as for the core's
// preview, how far the picture is scaled and what part of it shows; the
// picture is then scaled to that size times the pixel ratio and trimmed or
// padded about its middle, in the preview background colour, to the area
// times the ratio.
//
// What it does not promise: more detail than the picture has (a picture
// shown at its own size, having the area's proportions, is only enlarged),
// or the very pixels of the core's preview (at ratio 1 the window shows
// that one instead).
#pragma once

#include <QImage>
#include <QSize>

#include "imaging/image.h"

namespace pictovance {

// full shown in an area of `area` logical pixels at `ratio` device pixels
// per logical pixel; the image carries the ratio. A null image for a null
// picture or an empty area. Image errors (memory) propagate.
QImage ComposeSharpPreview(const Picture& full, QSize area, qreal ratio, Colour background);

}  // namespace pictovance
