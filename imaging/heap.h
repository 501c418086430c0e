// The heap policy for bitmaps, set once by each program at start and
// fitted to each picture's size.
#pragma once

#include <cstddef>

namespace pictovance {

// Bitmaps larger than this are mapped on their own, not kept in the heap.
constexpr std::size_t kLargestHeapBitmap = std::size_t{32} << 20;

// Every picture allocates and frees a few bitmaps of a few megabytes each
// (the canvas, the preview's scaled copy and its frame). By default the C
// library maps each of them freshly from the kernel and hands it back when it
// is freed, so every new bitmap pays for its page faults again: a fifth of
// the time of painting an 800 x 400 picture. This keeps freed bitmaps of up
// to kLargestHeapBitmap in the heap for reuse, holding at most 64 MiB of
// free memory at the end of each thread's heap; larger bitmaps are still
// mapped and unmapped one by one, so painting a huge picture does not keep
// its memory afterwards. Does nothing where the C library offers no such
// setting.
void KeepBitmapsInHeap() noexcept;

// Fits the policy above to the picture about to be made, whose bitmap takes
// bitmapBytes. A picture the heap keeps leaves it as it is. A larger one
// has the heap hand free memory back as soon as 1 MiB of it gathers: its
// filters' and encoder's scratch (saved rows, strips) grows with the picture,
// and kept, tens of megabytes a thread would stay resident beside the
// bitmap for the rest of its work. Does nothing unless KeepBitmapsInHeap
// was called.
void FitHeapToPicture(std::size_t bitmapBytes) noexcept;

}  // namespace pictovance
