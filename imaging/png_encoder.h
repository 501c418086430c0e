// The PNG encoder: a bitmap to the bytes of a PNG file, in memory.
//
// Built for saving many pictures fast. Rows of the working kind are written
// as 8-bit RGB with one fixed row filter (Up) rather than a trial of every
// filter on every row, and the pixels are compressed with libdeflate, about
// twice as fast as zlib at the same level for files of about the same size.
// A palette bitmap becomes a palette PNG with its colour table.
//
// What it does not promise: byte-identical files across versions, or the
// smallest file a PNG encoder could make at the level asked for.
#pragma once

#include <string>
#include <utility>
#include <vector>

class QImage;

namespace pictovance {

// A PNG text entry: a key (1 to 79 Latin-1 characters) and its value, both
// UTF-8. A value that Latin-1 can hold is written as a tEXt chunk, any other
// as an iTXt chunk.
using PngTexts = std::vector<std::pair<std::string, std::string>>;

// The whole PNG file of bitmap. Format_Indexed8 is written as a palette PNG
// (8 bits an index, its colour table, transparency when a colour has any);
// every other kind as 8-bit RGB, without alpha. level is the zlib level, 0
// (stored) to 9 (smallest); values outside are clamped. Raises ImageError:
// kErrorWriteFailed for a null bitmap, kErrorInvalidArgument for a key or
// text a PNG cannot hold, kErrorOutOfMemory when memory runs out.
std::vector<unsigned char> EncodePng(const QImage& bitmap, int level, const PngTexts& texts);

}  // namespace pictovance
