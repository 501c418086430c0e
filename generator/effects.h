// The finishing pass: line and dot patterns, colour-depth reduction and a
// random chain of filters, run in a random order on a finished canvas when
// the special-effects box is ticked.
#pragma once

#include "generator/random.h"
#include "imaging/image.h"

namespace pictovance {

void ApplySpecialEffects(Image& canvas, bool PaletteMode, Random& rng);

}  // namespace pictovance
