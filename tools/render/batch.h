// Batch runs of the renderer: pictures first .. first + count - 1 of a run,
// painted and saved on several threads at once.
//
// Picture i of a run is painted from Random(PictureSeed(runSeed, i)) into
// its worker's own form state, so it does not depend on the number of
// threads, on which thread paints it, or on the pictures painted before it:
// a run split with `first` writes the same pictures as one run. The image
// objects are not thread safe, so every worker paints into its own; the
// sources are shared between workers as read-only picture handles. The digits
// of file names come from each worker's own generator, never from a
// picture's.
//
// Each file is complete (written, flushed, then given a free name in one
// step) before its path is handed on; paths are printed in index
// order. A stop signal (SIGINT, SIGTERM) ends a batch between pictures: none
// is begun after it, those being painted are finished and saved when that
// takes less than a second (else the process ends without them), and the
// run ends with 128 + the signal's number.
//
// What it does not promise: file names (they follow the clock) or the order
// in which files appear in the folder.
#pragma once

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>

#include "canvas/result_file.h"
#include "generator/form.h"
#include "generator/headless_form.h"
#include "generator/random.h"
#include "tools/render/memory_fit.h"

namespace pictovance::render {

struct BatchSettings {
  std::uint64_t seed = 0;  // the run's seed
  std::int64_t first = 0;  // index of the first picture
  std::int64_t count = 1;
  int jobs = 1;  // threads; lowered to count, and to what memory allows
  bool effects = true;
  std::filesystem::path out = ".";
  bool progress = false;  // the progress bar and the summary line on stderr
};

// What one thread paints with: its own form state and form, and its own
// name generator.
struct Painter {
  // A copy of model's size and sources, the sources' pixels shared through
  // picture handles. Build painters on one thread: taking a handle marks
  // model's source as shared. nameSeed seeds the file-name digits.
  Painter(const FormState& model, bool effects, std::uint64_t nameSeed);

  FormState state;
  HeadlessForm form;
  Random nameDigits;
  ResultNames names;
};

// Paints picture index of the run seeded runSeed with painter and saves it
// into folder under a fresh result name; returns the path written. Raises
// ImageError when painting or writing fails (no partial file is left).
std::filesystem::path RenderPicture(Painter& painter, std::uint64_t runSeed, std::int64_t index,
                                    const std::filesystem::path& folder);

// Paints the batch from model (the size and sources set up as the window's
// Set and drops do), printing each path on out. A failure is reported on
// stderr. Returns 0, 1 after a failure, or 128 + the number of the signal
// that stopped the batch (SIGPIPE when out could no longer be written).
int RunBatch(const FormState& model, const BatchSettings& settings, std::ostream& out);

// Catches SIGINT and SIGTERM, and makes SIGPIPE do nothing, from now on;
// call first. Until StopBetweenPictures is called, a stop signal ends the
// process at once with one line on stderr and 128 + the signal's number:
// nothing has been written yet, and loading sources can take seconds in a
// decoder that reads no flag.
void CatchStopSignals();

// Creates folder if it is missing and proves that a picture can be written
// into it, leaving nothing there. Returns what keeps the folder from being
// used, one line for the user, or "" when it can be.
std::string PrepareOutFolder(const std::filesystem::path& folder);

// The descriptor the line of a stop signal that ends the process goes to
// (STDERR_FILENO unless stderr is being caught elsewhere).
void StopLineGoesTo(int fd);

// From now on a stop signal stops a batch between pictures: none is begun
// after it, and those being painted are finished if they finish within
// about a second; otherwise the process ends without them (a picture has
// no file under its name until it is complete). Call before the first file
// is written.
void StopBetweenPictures();

// The number of processors this process may run on.
int DefaultJobs();

// A seed for a run without one: from the system's entropy and the clock.
std::uint64_t FreshSeed();

}  // namespace pictovance::render
