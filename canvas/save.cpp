#include "canvas/save.h"

#include <exception>

#include "canvas/result_file.h"
#include "generator/driver.h"

namespace pictovance {

void Save(FormState& state, Form& form, Random& rng, const std::filesystem::path& folder) {
  if (state.Busy) return;
  if (!state.Result) {
    form.SetStatus("Nothing to save");
    return;
  }
  try {
    SaveResultPicture(*state.Result, folder, rng);
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
  GeneratePicture(state, form, rng);
}

}  // namespace pictovance
