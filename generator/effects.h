// The finishing pass: line and dot patterns, colour-depth reduction and a
// random chain of filters, run in a random order on a finished canvas when
// the special-effects box is ticked.
//
// This is the pass for the program's image object; the steps and the order
// live in generator/finishing_pass.h as templates over the picture. The
// pass catches nothing: an image error ends it and propagates, and steps
// already run stay on the canvas.
#pragma once

#include "generator/random.h"
#include "imaging/image.h"

namespace pictovance {

void ApplySpecialEffects(Image& canvas, bool PaletteMode, Random& rng);

}  // namespace pictovance
