// The form: the state the operations share, and the small window interface
// through which they read the special-effects box, write captions, let
// pending events run and show the preview.
//
// The window implements Form with widgets; the renderer and the tests
// implement it without. The state is a plain struct owned by whoever hosts
// the form and passed by reference to the operations.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "imaging/image.h"

namespace pictovance {

// Colour slots 1..32 of palette mode; slot 0 is never used.
using PaletteSlots = std::array<Colour, 33>;

// Where a source picture came from: its file, and the canvas size in force
// when it was loaded (fitted to that size, or free with that size as the
// upper limit; 0 sets no limit). A picture pasted without a file is named
// by its pixels instead (PictureSha256), with no byte count.
struct SourceFile {
  std::string name;  // the file name, without its folder
  std::uint64_t bytes = 0;
  std::string sha256;  // 64 lower-case hexadecimal digits
  bool fitted = false;
  std::int32_t limitW = 0;
  std::int32_t limitH = 0;
  bool pasted = false;  // sha256 is of the decoded pixels, not of a file

  bool operator==(const SourceFile&) const = default;
};

struct FormState {
  bool Busy = false;                 // a generation or a drop import is under way
  std::optional<Image> Result;       // the current finished picture
  PaletteSlots Palette{};            // written by palette-mode generations
  std::vector<Image> Sources;        // source pictures; Sources[k - 1] is source k
  std::int32_t SourceCount = 0;      // kept equal to Sources.size()
  bool FixedSize = false;            // both canvas dimensions non-zero at the last Set
  std::int32_t CanvasW = 0;
  std::int32_t CanvasH = 0;
  // Where each source came from, when it was loaded from a file.
  std::vector<SourceFile> SourceFiles;
};

class Form {
 public:
  virtual ~Form() = default;

  // chkYOBA is ticked (not cleared, not greyed).
  virtual bool SpecialEffectsTicked() const = 0;
  // lblWait, the status line.
  virtual void SetStatus(std::string_view text) = 0;
  // A failed command, for the status line: "Error: " and the description
  // unless the form has a shorter way to say it.
  virtual void ShowError(const ImageError& error) { SetStatus("Error: " + error.Description()); }
  // Lets the event loop process all pending window events once.
  virtual void ProcessEvents() = 0;

  // The About panel: whether its text is showing, and the About command's
  // own operation (which keeps its own Busy guard).
  virtual bool AboutVisible() const = 0;
  virtual void ToggleAbout() = 0;

  // picPreview: its inner size in pixels, its tag (the preview background
  // colour as decimal text), and the picture it shows (a null Picture
  // clears it).
  virtual double PreviewScaleWidth() const = 0;
  virtual double PreviewScaleHeight() const = 0;
  virtual std::string PreviewTag() const = 0;
  virtual void ShowPicture(const Picture& picture) = 0;
  // Whether anyone can see picPreview. A form without a window says no,
  // and no preview is made for it: fitting a 9999 x 9999 picture took a
  // third of a second.
  virtual bool PreviewSeen() const { return true; }

  // lblFilecnt: its caption prefix (the tag) and its caption; lblRes.
  virtual std::string FileCountTag() const = 0;
  virtual void SetFileCountCaption(std::string_view text) = 0;
  virtual void SetResolutionCaption(std::string_view text) = 0;
};

}  // namespace pictovance
