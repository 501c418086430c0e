// Inside imaging/ only: where a raw deflate stream's final block lies.
//
// The PNG encoder compresses the strips of a big picture with libdeflate,
// which ends every stream with a final block and does not say where that
// block begins; to join the strips, each one's final flag is cleared. The
// walker behind FindFinalBlock reads the blocks as an inflater would, but
// only to learn their bounds: it decodes each code to know its length,
// skips the extra bits after it, and writes nothing.
#pragma once

#include <cstddef>

namespace pictovance {

struct DeflateEnds {
  std::size_t finalBlockBit = 0;  // the first bit of the final block's header
  std::size_t endBit = 0;         // just past the final block's end code
};

// Bits count from the first byte's lowest bit. Raises ImageError
// (kErrorWriteFailed) for a stream it cannot read: a code no table holds,
// a block running past the end.
DeflateEnds FindFinalBlock(const unsigned char* data, std::size_t size);

}  // namespace pictovance
