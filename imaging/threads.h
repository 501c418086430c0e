// The thread budget of one picture: how many threads the work on a single
// picture (the strips of a PNG encode, OpenCV's filters, the strips of the
// line patterns) may use at once.
//
// A program that works on one picture at a time (the window) leaves it at
// its default, one thread per processor the process may run on. A program
// that works on J pictures at once (the renderer's batch) sets it to about
// processors / J, so the pictures together do not ask for more threads than
// there are processors.
//
// What it does not promise: that the work is split at all (small pictures
// run on the calling thread), or any order among the parts of one run.
// Results never depend on the budget: every split is chosen so that the
// parts together give the same pixels and bytes as one thread would.
#pragma once

#include <functional>

namespace pictovance {

// The processors this process may run on (at least 1).
int ProcessorCount() noexcept;

// The threads one picture may use, at least 1.
int PictureThreads() noexcept;

// Sets the budget (values below 1 count as 1), and OpenCV's own thread
// count with it. Call it before the work starts, from one thread.
void SetPictureThreads(int threads);

// Runs task(0) .. task(count - 1), each exactly once, on up to threads
// threads (the calling thread among them) that take the next index as they
// become free. The first exception a task throws is thrown again here after
// every thread has stopped; indices not yet begun are then skipped.
void RunInParallel(int count, int threads, const std::function<void(int)>& task);

// Cuts rows 0 .. height - 1 into bands (1 to height of them) of about
// equal height and runs task(band, top, bottom) for each, rows top ..
// bottom - 1, one band a thread, as RunInParallel does. No rows, no task.
void ForEachRowBand(int height, int bands, const std::function<void(int, int, int)>& task);

}  // namespace pictovance
