// The heap policy for bitmaps, set once by each program at start.
#pragma once

namespace pictovance {

// Every picture allocates and frees a few bitmaps of a few megabytes each
// (the canvas, the preview's scaled copy and its frame). By default the C
// library maps each of them freshly from the kernel and hands it back when it
// is freed, so every new bitmap pays for its page faults again: a fifth of
// the time of painting an 800 x 400 picture. This keeps freed bitmaps of up
// to 32 MiB in the heap for reuse, holding at most 64 MiB of free heap;
// larger bitmaps are still mapped and unmapped one by one, so painting a
// huge picture does not keep its memory afterwards. Does nothing where the
// C library offers no such setting.
void KeepBitmapsInHeap() noexcept;

}  // namespace pictovance
