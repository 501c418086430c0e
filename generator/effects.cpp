#include "generator/effects.h"

#include "generator/finishing_pass.h"

namespace pictovance {

void ApplySpecialEffects(Image& canvas, bool PaletteMode, Random& rng) {
  ApplySpecialEffects<Image>(canvas, PaletteMode, rng);
}

}  // namespace pictovance
