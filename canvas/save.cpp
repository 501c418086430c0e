#include "canvas/save.h"

#include <exception>

#include "canvas/result_file.h"

namespace pictovance {

void Save(FormState& state, Form& form, Random& names, const std::filesystem::path& folder,
          const std::function<void()>& paintNext) {
  if (state.Busy) return;
  if (!state.Result) {
    form.SetStatus("Nothing to save");
    return;
  }
  try {
    SaveResultPicture(*state.Result, folder, names);
  } catch (const ImageError& error) {
    form.ShowError(error);
    return;
  } catch (const std::exception& error) {  // naming the file ran out of memory, say
    form.ShowError(ImageError(kErrorWriteFailed, error.what()));
    return;
  }
  state.Result.reset();
  // The next picture's own failures are the caller's to handle, as for any
  // other generation.
  paintNext();
}

}  // namespace pictovance
