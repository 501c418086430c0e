// The Save command: writes the current result into the results folder under
// a fresh name, then releases it and paints the next picture.
#pragma once

#include <filesystem>

#include "generator/form.h"
#include "generator/random.h"

namespace pictovance {

// Unless Busy: "Nothing to save" without a result; otherwise writes it
// (canvas/result_file.h) and generates the next picture, or shows the error
// (Form::ShowError) and keeps the result.
void Save(FormState& state, Form& form, Random& rng, const std::filesystem::path& folder);

}  // namespace pictovance
