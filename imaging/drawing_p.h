// Inside imaging/ only: SVG drawings, drawn from themselves alone and within
// bounds.
//
// Qt's SVG renderer reads whatever a drawing points to: an <image> names any
// file or URL (a relative name is looked up in the current folder), a
// stylesheet processing instruction names a CSS file, and gzip-compressed
// text is inflated without a limit. It has no option to turn that off, so a
// drawing is rewritten before the renderer sees it: a pre-pass reads it with
// QXmlStreamReader (without namespace processing, so every name stays as
// written) and writes a copy that keeps only what stands inside the file:
//  - the DTD is dropped once the reader has expanded the entities it
//    declares inside the file (at most 64, none referring to another, and
//    their references, counted in the raw text first, expanding to at most
//    kMaxDrawingBytes); a reference to an entity declared outside the file
//    is dropped, never resolved;
//  - processing instructions and comments are dropped;
//  - a link (href in any namespace) stays only when it points inside the
//    drawing ("#id"); a data: URL stays on an <image> once the picture it
//    holds has passed the same checks as a picture file, written back in
//    one canonical base64 form so that the renderer decodes exactly the
//    checked bytes; every other link is dropped, and the drawing is drawn
//    without it;
//  - a <style> whose text imports another stylesheet loses its text.
// The drawing is then bounded before it is drawn: its text (after inflating
// a compressed one) is at most kMaxDrawingBytes, it has at most
// kMaxDrawingElements elements nested at most kMaxDrawingDepth deep, its
// <use> references expand to at most kMaxDrawnElements, and the painting it
// asks for, measured by drawing it once into a paint engine that only adds
// up the area each call fills or strokes, is at most kMaxDrawingCost pixels.
//
// What it does not promise: every SVG feature (what Qt's renderer cannot
// draw stays undrawn), or a drawing's look where it relied on an outside
// file.
#pragma once

#include <QImage>
#include <QSize>
#include <cstdint>
#include <string>
#include <string_view>

namespace pictovance {

inline constexpr std::int64_t kMaxDrawingBytes = std::int64_t{16} << 20;
inline constexpr std::int64_t kMaxDrawingElements = 200'000;
inline constexpr int kMaxDrawingDepth = 256;
inline constexpr std::int64_t kMaxDrawnElements = 1'000'000;
inline constexpr double kMaxDrawingCost = 2.5e9;
// What the pictures embedded in one drawing may hold once decoded.
inline constexpr std::int64_t kMaxEmbeddedBytes = std::int64_t{256} << 20;

// The drawing in bytes (gzip-compressed when compressed) drawn at size, or
// at the size it names when size is empty, on transparent ground
// (Format_ARGB32_Premultiplied). Raises ImageError: kErrorNotAnImage when
// the text is not an SVG drawing, kErrorDecodeFailed when it cannot be read
// or has no size, kErrorTooLarge beyond the bounds above or kMaxLoadPixels.
// name is for messages only.
QImage DrawDrawing(std::string_view bytes, bool compressed, QSize size, const std::string& name);

}  // namespace pictovance
