// The PNG encoder: a bitmap to the bytes of a PNG file, in memory.
//
// Built for saving many pictures fast, and large ones on every core. A
// picture of at most 256 colours is written as a palette PNG of as few bits
// an index as its colours need (1, 2, 4 or 8): most pictures hold a few
// dozen colours, and packed indices are a third to a sixth of the bytes of
// RGB rows. Other pictures are written as 8-bit RGB with one fixed row
// filter (Up) rather than a trial of every filter on every row. The pixels
// are compressed with libdeflate, about twice as fast as zlib at the same
// level for files of about the same size (strips of RGB rows at most at
// libdeflate's level 6: its levels above parse for the shortest stream at
// three to five times the cost, for large files no smaller). A large picture is compressed in strips of rows on several
// threads (the picture thread budget, imaging/threads.h) and the strips
// joined into one stream, so memory holds the picture, the compressed file
// and a few strips in work.
//
// What it does not promise: byte-identical files across versions, or the
// smallest file a PNG encoder could make at the level asked for.
#pragma once

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

class QImage;

namespace pictovance {

// A PNG text entry: a key (1 to 79 Latin-1 characters) and its value, both
// UTF-8. A value that Latin-1 can hold is written as a tEXt chunk, any other
// as an iTXt chunk.
using PngTexts = std::vector<std::pair<std::string, std::string>>;

// How the encoder splits its work. The defaults suit the program; tests
// shrink the sizes to reach the strip edges with small pictures. The bytes
// written never depend on threads.
struct PngEncoderTuning {
  // Filtered rows up to this many bytes are compressed in one call on the
  // calling thread; more are cut into strips.
  std::size_t oneCallBytes = std::size_t{8} << 20;
  // About the filtered bytes of one strip (at least one row).
  std::size_t stripBytes = std::size_t{4} << 20;
  // Threads for the strips and the colour count; 0: PictureThreads().
  int threads = 0;
};

// The whole PNG file of bitmap. Format_Indexed8 is written as a palette PNG
// (its colour table, transparency when a colour has any). Any other kind is
// written without alpha: as a palette PNG of its colours, sorted by value,
// when it has at most 256, else as 8-bit RGB. level is the zlib level, 0
// (stored) to 9 (smallest); values outside are clamped. Raises ImageError:
// kErrorWriteFailed for a null bitmap, kErrorInvalidArgument for a key or
// text a PNG cannot hold, kErrorOutOfMemory when memory runs out.
std::vector<unsigned char> EncodePng(const QImage& bitmap, int level, const PngTexts& texts,
                                     const PngEncoderTuning& tuning = {});

// The same file as the pieces it was made in, in order: joined, they are
// EncodePng's bytes. A big picture's compressed strips stay apart, so the
// file is never copied whole into a bigger buffer while it grows; a writer
// takes the pieces one after the other.
using PngPieces = std::vector<std::vector<unsigned char>>;
PngPieces EncodePngPieces(const QImage& bitmap, int level, const PngTexts& texts,
                          const PngEncoderTuning& tuning = {});

}  // namespace pictovance
