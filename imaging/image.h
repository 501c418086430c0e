// The image object: one bitmap with its pen and its save settings.
//
// Every picture the program holds (canvas, result, sources, preview copy) is
// an Image. It draws dots and lines, reads pixels, loads and saves files,
// scales, pads and trims, converts between bitmap kinds, reduces colours and
// runs filters. Pictures travel between images as Picture handles: immutable
// snapshots that share pixels until one side writes.
//
// Colours are 32-bit integers 0x00BBGGRR (red in the low byte).
// Coordinates are pixels from the top-left corner.
//
// Decisions this object makes for its callers:
//  - A dot of width w covers the square from x - (w - 1) / 2 to x + w / 2
//    (and likewise in y): width 1 is (x, y); width 2 is x..x+1, y..y+1;
//    width 3 is x-1..x+1, y-1..y+1; width 4 is x-1..x+2, y-1..y+2.
//  - Position codes of ResizeCanvas are a 3 x 3 grid read like a page:
//    0 top-left, 1 top-centre, 2 top-right, 3 middle-left, 4 centred,
//    5 middle-right, 6 bottom-left, 7 bottom-centre, 8 bottom-right. Code 4
//    keeps the middle of a picture that is trimmed and centres one that is
//    padded (an odd leftover pixel goes to the right and bottom side).
//  - GetColorAt outside the bitmap (and on an empty image) returns
//    BackColor. Dots and lines are clipped: parts outside are dropped.
//    No coordinate, however large, touches memory outside the bitmap.
//  - Bitmap kinds (BitmapType): 0 no bitmap, 1 palette bitmap of up to 256
//    colours, 4 the working kind (32-bit RGB). Every drawing and filter
//    member turns a palette bitmap back into the working kind first.
//
// What it does not promise: thread safety (one thread at a time per image),
// or that a Picture taken before a change shows the change (it never does).
#pragma once

#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "imaging/new_file.h"

namespace pictovance {

using Colour = std::int32_t;

// Text entries (key, value) that travel with a picture into its PNG file,
// as text chunks. Keys are Latin-1 of 1 to 79 characters; values are UTF-8.
using TextEntries = std::vector<std::pair<std::string, std::string>>;

// Error numbers carried by ImageError.
enum ImageErrorNumber : int {
  kErrorInvalidArgument = 5,
  kErrorOutOfMemory = 7,
  kErrorFileNotFound = 53,
  kErrorFileAccess = 75,
  kErrorNotAnImage = 481,
  kErrorTooLarge = 482,
  kErrorDecodeFailed = 483,
  kErrorWriteFailed = 484,
  kErrorColourReduction = 485,
};

// The one error type the image object raises: a number and a description
// meant for the user, and where a system call failed, its errno, so that a
// caller can name the cause without reading the description.
class ImageError : public std::runtime_error {
 public:
  ImageError(int number, const std::string& description, int systemError = 0)
      : std::runtime_error(description), m_number(number), m_systemError(systemError) {}
  int Number() const noexcept { return m_number; }
  std::string Description() const { return what(); }
  // The errno of the failed system call, 0 when none failed.
  int SystemError() const noexcept { return m_systemError; }

 private:
  int m_number;
  int m_systemError;
};

// A picture handle: a shared, immutable snapshot of a bitmap. Copies are
// cheap; assigning one to an image copies the pixels only when either side
// is written to.
class Picture {
 public:
  Picture();
  ~Picture();
  Picture(const Picture&);
  Picture& operator=(const Picture&);
  Picture(Picture&&) noexcept;
  Picture& operator=(Picture&&) noexcept;

  bool IsNull() const noexcept;
  int Width() const noexcept;
  int Height() const noexcept;

  struct Data;  // defined inside imaging/ only
  const Data* data() const noexcept { return m_data.get(); }

 private:
  friend class Image;
  explicit Picture(std::shared_ptr<const Data> data);
  std::shared_ptr<const Data> m_data;
};

// Largest picture LoadBitmap accepts, in pixels: 16384 x 16384 (1 GiB of
// working bitmap). Larger headers are refused before any pixel is decoded.
inline constexpr std::int64_t kMaxLoadPixels = std::int64_t{16384} * 16384;

// Loads Qt's image format plugins now, on the calling thread. A program that
// loads or saves pictures on other threads calls it first on its main
// thread: a plugin belongs to the thread that loaded it, and one loaded by a
// thread that has ended since crashes the process when it exits.
void LoadImageFormats();

class Image {
 public:
  Image();
  ~Image();
  // A moved-from image is empty, as if new.
  Image(Image&&) noexcept;
  Image& operator=(Image&&) noexcept;
  Image(const Image&) = delete;  // share pictures with GetPicture instead
  Image& operator=(const Image&) = delete;

  // --- Size and kind --------------------------------------------------
  int Width() const noexcept { return m_width; }
  int Height() const noexcept { return m_height; }
  int BitmapType() const noexcept;

  // --- Settings -------------------------------------------------------
  // BackColor is given as decimal text of a colour; text that is not a
  // whole number raises kErrorInvalidArgument.
  void SetBackColor(std::string_view decimalText);
  Colour BackColor() const noexcept { return m_backColor; }

  void SetLineColor(Colour colour) noexcept {
    m_lineColor = colour;
    m_penPixel = ToPixel(colour);
  }
  Colour LineColor() const noexcept { return m_lineColor; }
  // Reads give back the value written; dots are drawn at least 1 and at
  // most kMaxLineWidth pixels wide.
  void SetLineWidth(int width) noexcept { m_lineWidth = width; }
  int LineWidth() const noexcept { return m_lineWidth; }
  static constexpr int kMaxLineWidth = 64;

  // SaveFormat: 0 BMP, 1 JPEG, 2 TIFF, 3 PNG (the default), 4 WebP.
  void SetSaveFormat(std::int32_t format) noexcept { m_saveFormat = format; }
  std::int32_t SaveFormat() const noexcept { return m_saveFormat; }
  // zlib level 0 (none) to 9 (smallest); values outside are clamped.
  void SetSavePNGCompression(std::int16_t level) noexcept { m_pngCompression = level; }
  std::int16_t SavePNGCompression() const noexcept { return m_pngCompression; }
  // Written into PNG files as text chunks; other formats leave them out.
  void SetTexts(TextEntries texts) { m_texts = std::move(texts); }
  const TextEntries& Texts() const noexcept { return m_texts; }

  // --- Bitmap ---------------------------------------------------------
  // A width x height working bitmap filled with colour. Sizes below 1
  // raise kErrorInvalidArgument; a bitmap that cannot be allocated raises
  // kErrorOutOfMemory.
  void CreateBitmap(int width, int height, Colour colour);
  // The bitmap becomes a copy of the picture (pixels shared until written).
  void AssignPicture(const Picture& picture);
  Picture GetPicture() const;

  // --- Pixels ---------------------------------------------------------
  Colour GetColorAt(int x, int y) const noexcept {
    if (static_cast<unsigned>(x) >= static_cast<unsigned>(m_width) ||
        static_cast<unsigned>(y) >= static_cast<unsigned>(m_height)) {
      return m_backColor;
    }
    if (m_readBits == nullptr) [[unlikely]] {
      return SlowColorAt(x, y);
    }
    return FromPixel(m_readBits[y * m_stride + x]);
  }

  [[gnu::always_inline]] inline void DrawPoint(int x, int y) noexcept {
    // Fast path: a pen of width 1 to 4 away from the edges (x and y from 1
    // to size - 3, where every such dot fits) on a bitmap that is ours to
    // write. Everything else (edges, wider pens, a shared or palette bitmap)
    // goes through DrawThickPoint, which clips.
    const unsigned extra = static_cast<unsigned>(m_lineWidth) - 1u;  // 0..3 for widths 1..4
    if (extra < 4u && m_writeBits != nullptr && static_cast<unsigned>(x) - 1u < m_innerWidth &&
        static_cast<unsigned>(y) - 1u < m_innerHeight) {
      // Locals only from here: a pixel store may alias any int member.
      const std::ptrdiff_t s = m_stride;
      const int lo = static_cast<int>(extra) >> 1;
      std::uint32_t* p = m_writeBits + (y - lo) * s + (x - lo);
      const std::uint32_t pixel = m_penPixel;
      switch (extra) {
        case 3:
          p[3] = p[s + 3] = p[2 * s + 3] = p[3 * s + 3] = pixel;
          p[3 * s] = p[3 * s + 1] = p[3 * s + 2] = pixel;
          [[fallthrough]];
        case 2:
          p[2] = p[s + 2] = p[2 * s + 2] = pixel;
          p[2 * s] = p[2 * s + 1] = pixel;
          [[fallthrough]];
        case 1:
          p[1] = p[s + 1] = p[s] = pixel;
          [[fallthrough]];
        default:
          p[0] = pixel;
      }
      return;
    }
    DrawThickPoint(x, y);
  }

  // count dots of the pen's colour at (x, y), (x, y + 1), ..., dot k of
  // width widths[k] (1 to 4): the pixels of count DrawPoint calls with those
  // widths. The dots share one colour, so their order does not matter and
  // each pixel is written once. The pen's width is left as it was.
  void DrawDots(int x, int y, const std::uint8_t* widths, int count) noexcept;
  // Asks the processor to bring the pixels of column x, rows top .. bottom,
  // into its cache for writing, ahead of a later draw there; nothing else.
  void PrefetchColumn(int x, int top, int bottom) noexcept;

  void DrawLine(int x1, int y1, int x2, int y2) noexcept;
  // Lines from top to bottom at columns xs[k], in colours[k], with the
  // current pen width: the pixels of DrawLine(xs[k], 0, xs[k], Height())
  // drawn for k = 0, 1, ..., each in its colour, painted row by row (a big
  // bitmap on every picture thread). The pen's colour is left as it was.
  void DrawFullHeightLines(const std::vector<int>& xs, const std::vector<Colour>& colours);

  // --- Files ----------------------------------------------------------
  // Reads PNG, JPEG, BMP, GIF, TIFF, WebP and SVG (plain or compressed),
  // told by their first bytes; other formats are refused. Only a regular
  // file is read, once (imaging/source_file.h); every picture is checked
  // against its file's length and bounded in size and memory before a pixel
  // is decoded, and a drawing is drawn from itself alone (no file or URL it
  // names is read). A picture with a colour profile is converted to sRGB.
  // Errors: kErrorFileNotFound, kErrorFileAccess (not a regular file, or
  // unreadable), kErrorNotAnImage (empty or unknown format), kErrorTooLarge
  // (over kMaxLoadPixels or the memory and drawing bounds),
  // kErrorDecodeFailed (truncated or corrupt, or too short for the size its
  // header claims). Each error's description is one line. The image is
  // unchanged after a failed load.
  void LoadBitmap(const std::string& path);
  // The same; a drawing (SVG), which has no pixels of its own, is drawn at
  // drawWidth x drawHeight, or at the size it names when either is 0.
  // Pictures with pixels ignore the size.
  void LoadBitmap(const std::string& path, int drawWidth, int drawHeight);
  // The same from a file's bytes already read (ReadSourceFile); name
  // appears in messages only. The bytes are let go as soon as they are
  // decoded.
  void LoadBitmapBytes(std::string bytes, const std::string& name, int drawWidth, int drawHeight);
  // Writes the bitmap in SaveFormat; a path without an extension gets the
  // format's (".png"). The file appears complete or not at all: it is
  // written beside its final name, flushed to the disk and renamed into
  // place; on any failure nothing new is left behind. Errors:
  // kErrorWriteFailed, with a description naming the cause (the system's
  // text, such as "No space left on device").
  void SaveBitmap(const std::string& path) const;
  // Writes the bitmap in SaveFormat into folder as a file without a name
  // yet (imaging/new_file.h), for the caller to publish under a name that
  // ends in SaveExtension(). Errors as for SaveBitmap.
  NewFile SaveBitmapUnnamed(const std::string& folder) const;
  // ".png" and so on: the extension of SaveFormat.
  std::string SaveExtension() const;

  // --- Geometry -------------------------------------------------------
  // Content scaled to exactly width x height (area averaging when
  // shrinking, bilinear when enlarging).
  void Resize(int width, int height);
  // Exactly width x height afterwards, content not scaled but placed by
  // the position code (0..8, see above); uncovered area takes colour.
  void ResizeCanvas(int width, int height, int position, Colour colour);

  // --- Colour depth ---------------------------------------------------
  // ChangeColorDepth(count, kind, dither):
  //   | call          | result                                              |
  //   | (n, 1, d)     | palette bitmap (kind 1) of at most n colours, n      |
  //   |               | clamped to 2..256. n = 216: the fixed 6x6x6 colour   |
  //   |               | cube (levels 0, 51, ..., 255). Other n: a picture    |
  //   |               | of at most n colours keeps exactly its colours;      |
  //   |               | otherwise an adaptive palette (libimagequant, chosen |
  //   |               | from a sample of about 20,000 pixels). d != 0        |
  //   |               | dithers (error diffusion), d = 0 maps each pixel to  |
  //   |               | its nearest palette colour. An empty image stays so. |
  //   | (n, 0, d)     | the working kind (4), colours kept; n, d unused      |
  //   | (n, 4, d)     | the same as (n, 0, d)                               |
  // Other kinds raise kErrorInvalidArgument; a failure of the palette
  // search raises kErrorColourReduction.
  void ChangeColorDepth(std::int32_t count, std::int32_t kind, std::int32_t dither);

  // --- Filters (in place; an empty image is left as it is) --------------
  // A palette bitmap turns into the working kind first; the size never
  // changes. Arguments beyond the ranges noted act as the nearest end.
  void EnhanceDetail();        // gentle 3x3 sharpening: centre 2, each of the 8 neighbours -1/8
  void EnhanceFocus();         // stronger 3x3 sharpening: centre 5, the 4 side neighbours -1
  void FocusRestoration();     // unsharp mask, Gaussian sigma 2 px, amount 1.5: revives soft pictures
  void Equalize();             // histogram equalization of red, green and blue, each on its own
  void EqualizeOnLuminance();  // equalizes the luma (YCrCb) only, so colours keep their hue
  void Negative();             // each channel c becomes 255 - c
  // Grey toned by colour: channel = (luma + level (-255..255)) x colour's channel / 255.
  void Sepia(std::int32_t level, Colour colour);
  // Adds (byte - 128) of value's 0x00BBGGRR bytes to each channel; 0x808080 changes nothing.
  void Balance(std::int32_t value);
  void FlipHorizontal();  // mirrors left and right
  void FlipVertical();    // turns upside down
  // Turns every hue (HSV) by value / 256 of a full turn, any value; 0 and 256 change nothing.
  void hue(std::int32_t value);
  // Colour strength (distance from the grey of equal luma) x (100 + value) / 100, -100 (grey)..1000.
  void saturation(std::int32_t value);
  void Blur(std::int32_t value);          // box blur of radius value px (a 2 value + 1 square); 0 = none
  void GaussianBlur(std::int32_t value);  // Gaussian blur of sigma value / 2 px; 0 = none
  void brightness(std::int32_t value);    // adds value (-255..255) to every channel
  void LogCorrection();                   // curve 255 log(1 + c) / log(256): lifts dark tones most
  void contrast(std::int32_t value);      // scales tones about mid-grey by 2^(value / 100), -1000..1000
  // c = 255 (c / 255)^(1 / value), value 0.1..10 (above 1 lightens); 0, negative or NaN: no change.
  void Gamma(double value);
  void lightness(std::int32_t value);  // moves channels value % (-100..100) of the way to white or black
  void Sharpen(std::int32_t value);    // unsharp mask, 3x3 binomial, amount value / 100 (0..1000)
  // Edges and relief.
  void EdgeDetectLight();   // 4-neighbour Laplacian, lighter side only: thin bright edges on black
  void EdgeDetectMedium();  // |8-neighbour Laplacian|: both sides of every edge, on black
  void EdgeDetectHeavy();   // |8-neighbour Laplacian| x 3: bold glowing edges on black
  void Emboss();            // relief lit from the top left; flat areas keep their colour
  void EmbossMore();        // the same relief twice as deep

  // An image over rows top .. bottom - 1 (clamped to the bitmap) of this
  // image's working bitmap, sharing its pixels: what the band draws at
  // (x, y) lands here at (x, top + y), and it clips at its own edges as at
  // the bitmap's. For painting one picture on several threads, one band
  // each: this image must stay alive and unchanged, and must not be drawn
  // on itself, while a band is in use. Each band has its own pen. An image
  // without bitmap, or one whose bitmap cannot be made writable, gives an
  // empty band.
  Image RowBand(int top, int bottom);

  // The bitmap itself, for imaging/ internals: working kind, detached, with
  // the cache refreshed. Copies for reading go through GetPicture, which
  // tells the cache that the pixels are shared.
  struct Bitmap;
  Bitmap& MutableBitmap();

 private:
  // 0x00BBGGRR <-> the bitmap's 0xFFRRGGBB.
  static constexpr std::uint32_t ToPixel(Colour c) noexcept {
    const auto v = static_cast<std::uint32_t>(c);
    return 0xFF000000u | ((v & 0xFFu) << 16) | (v & 0xFF00u) | ((v >> 16) & 0xFFu);
  }
  static constexpr Colour FromPixel(std::uint32_t p) noexcept {
    return static_cast<Colour>(((p & 0xFFu) << 16) | (p & 0xFF00u) | ((p >> 16) & 0xFFu));
  }

  void DrawThickPoint(int x, int y) noexcept;
  void FillClipped(long long left, long long top, long long right, long long bottom) noexcept;
  Colour SlowColorAt(int x, int y) const noexcept;
  bool PrepareForWriting() noexcept;
  void RefreshCache() noexcept;
  void Swap(Image& other) noexcept;

  std::unique_ptr<Bitmap> m_bitmap;
  // Cached view of the working bitmap. m_writeBits is null while the pixels
  // are shared with a Picture or the bitmap is not of the working kind; the
  // first write then detaches or converts.
  const std::uint32_t* m_readBits = nullptr;
  mutable std::uint32_t* m_writeBits = nullptr;
  std::ptrdiff_t m_stride = 0;  // in pixels
  int m_width = 0;
  int m_height = 0;
  // Size - 3 (at least 0): x - 1 below this means any dot of width 1 to 4
  // at x lies inside.
  unsigned m_innerWidth = 0;
  unsigned m_innerHeight = 0;

  Colour m_backColor = 0;
  Colour m_lineColor = 0;
  std::uint32_t m_penPixel = 0xFF000000u;
  int m_lineWidth = 1;
  std::int32_t m_saveFormat = 3;
  std::int16_t m_pngCompression = 8;
  TextEntries m_texts;
};

}  // namespace pictovance
