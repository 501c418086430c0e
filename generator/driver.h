// The generation driver: paints one new picture from nothing and makes it
// the current result.
//
// The driver paints columns, then blocks: a column phase sweeps the canvas
// from left to right, switching its colour source at random moments (the
// vertical bands), and a block phase lays rectangles whose number and width
// follow from those switches. With the special-effects box ticked the
// finishing pass runs before the picture is published and shown.
//
// Every decision is drawn from rng in a fixed order, so a seed and a form
// state repeat a picture exactly.
#pragma once

#include "generator/form.h"
#include "generator/random.h"

namespace pictovance {

// Paints a picture of CanvasW x CanvasH (800 x 400 for a dimension below 1),
// makes it state.Result and shows it through form. Does nothing while
// state.Busy is set. An image error ends the run and propagates; Busy is
// cleared and the status line emptied on the way out, and Result keeps the
// previous picture.
void GeneratePicture(FormState& state, Form& form, Random& rng);

// The dots of the status line: "." repeated count times.
std::string Dots(int count);

}  // namespace pictovance
