// Inside imaging/ only: which formats are read, and what a picture file must
// show before a decoder is let at it.
//
// The format is told from the file's first bytes, never from its name, and
// only the formats the program is tested with are read: PNG, JPEG, BMP, GIF,
// TIFF, WebP and SVG drawings (plain or gzip-compressed). Anything else is
// refused in one line before a plugin sees it, since a plugin that cannot
// check a file's claims against its length (MNG, say) turns a few bytes into
// gigabytes of blank picture.
//
// Before decoding, a picture must pass checks that cost no more than a walk
// over its bytes:
//  - its size is at most kMaxLoadPixels;
//  - PNG: every chunk lies inside the file, and the image data can inflate
//    to the rows the header promises (deflate shrinks by 1032:1 at best);
//  - JPEG: the scans end in the end-of-image marker, a Huffman-coded file
//    holds a bit for every 8 x 8 block, and there are at most kMaxJpegScans
//    scans (a real encoder writes 6 to 12; libjpeg re-reads the whole
//    picture's coefficients for each one, so a few bytes of repeated scan
//    cost seconds), whose blocks add up to at most kMaxJpegScanBlocks;
//  - BMP: an uncompressed file is as long as its rows;
//  - GIF: the logical screen, onto which the first frame is decoded, is the
//    size that counts;
//  - TIFF: JPEG-compressed strips are not progressive;
//  - any format but PNG (whose check above is exact): a picture of more than
//    kFreePixels holds at least one byte for every kMaxPixelsPerByte pixels,
//    since runs, skips and single-symbol codes let other formats describe
//    pixels without bytes;
//  - what the decoder and the conversion to the working kind hold at once
//    (the file, the decoded picture in its own pixel format, the converted
//    copy, and a JPEG decoder's coefficients) stays within kMaxDecodeBytes.
//
// What it does not promise: that a picture that passes decodes; a decoder
// may still find it corrupt.
#pragma once

#include <QByteArray>
#include <QImageReader>
#include <QSize>
#include <cstdint>
#include <string>
#include <string_view>

namespace pictovance {

enum class PictureFormat { kUnknown, kPng, kJpeg, kBmp, kGif, kTiff, kWebp, kSvg, kSvgz };

// The format the bytes begin like. A drawing is text whose first markup
// starts with "<" (after a byte-order mark and blanks); it is confirmed as
// SVG only when its root element is read.
PictureFormat SniffFormat(std::string_view bytes);

// The name Qt's image reader knows the format by.
QByteArray QtFormatName(PictureFormat format);

inline constexpr int kMaxJpegScans = 100;
inline constexpr std::int64_t kMaxJpegScanBlocks = 250'000'000;
inline constexpr std::int64_t kFreePixels = std::int64_t{4096} * 4096;
inline constexpr std::int64_t kMaxPixelsPerByte = 4096;
// 1300 MiB: a 16384 x 16384 picture decoded straight into the working kind
// (1 GiB) fits with its file, and so does one of grey or palette pixels
// converted afterwards (1.25 GiB); one whose pixels take more than a byte
// before a converted copy does not.
inline constexpr std::int64_t kMaxDecodeBytes = std::int64_t{1300} << 20;

// Runs the checks above on a raster picture (not a drawing) with reader,
// which reads the same bytes as format, and returns the size the decoder
// will give. Raises ImageError: kErrorTooLarge for sizes and memory beyond
// the bounds, kErrorDecodeFailed for a file that is cut off, corrupt or too
// short for its size, kErrorNotAnImage when the decoder does not take it.
// name is for messages only.
QSize CheckRasterPicture(std::string_view bytes, PictureFormat format, QImageReader& reader,
                         const std::string& name);

}  // namespace pictovance
