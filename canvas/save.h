// The Save command: writes the current result into the results folder under
// a fresh name, then releases it and paints the next picture.
#pragma once

#include <filesystem>
#include <functional>

#include "generator/form.h"
#include "generator/random.h"

namespace pictovance {

// Unless Busy: "Nothing to save" without a result; otherwise writes it
// (canvas/result_file.h, the name's digits drawn from names) and calls
// paintNext, or shows the error (Form::ShowError) and keeps the result.
void Save(FormState& state, Form& form, Random& names, const std::filesystem::path& folder,
          const std::function<void()>& paintNext);

}  // namespace pictovance
