// Dropped source pictures: one drop is a list of files, each loaded,
// converted to the working kind, fitted (fixed size) or used to lower the
// canvas size (free size), and appended to the sources.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "generator/form.h"

namespace pictovance {

// Loads one file into the sources. Returns 0 when it was stored, else the
// number of the ImageError that stopped it (nothing is stored then).
std::int32_t LoadSourcePicture(FormState& state, Form& form, const std::string& path);

// The same, also handing back the description of the error that stopped
// the load (emptied on success), for callers that tell the user why.
std::int32_t LoadSourcePicture(FormState& state, Form& form, const std::string& path,
                               std::string& description);

// The number LoadSourcePicture returns for a failure that is not an image
// error (a failing window call, say); running out of memory returns
// kErrorOutOfMemory.
inline constexpr std::int32_t kErrorLoadInterrupted = 51;

// One drop. files is the drop's file list, or nullopt when the drop carries
// none. Unless Busy, loads every file in order, skipping those that fail,
// updating the counter and the falling row of dots and letting events run
// once per stored picture. Returns the error of the last file that failed,
// for the window to show once the drop is over, or nullopt.
std::optional<ImageError> LoadDroppedFiles(FormState& state, Form& form,
                                           const std::optional<std::vector<std::string>>& files);

}  // namespace pictovance
