#include "canvas/sources.h"

#include <exception>
#include <filesystem>
#include <new>
#include <utility>

#include "canvas/size_fields.h"
#include "generator/fit.h"
#include "imaging/picture_file.h"
#include "imaging/source_file.h"

namespace pictovance {

namespace {

constexpr int kWorkingKind = 4;

// Stores one loaded file; any exception ends it before the picture is
// appended.
void LoadAndStore(FormState& state, Form& form, const std::string& path) {
  // Read once: the bytes that name the source in its recipe are the bytes
  // that are decoded, and nothing opens the file again.
  std::string bytes = ReadSourceFile(path);
  // Named by its bytes, so a recipe can find the same file again under any
  // name; the name itself is kept readable, whatever bytes it is made of.
  SourceFile origin{ReadableName(std::filesystem::path(path).filename().string()),
                    bytes.size(),
                    BytesSha256(bytes),
                    state.FixedSize,
                    state.CanvasW,
                    state.CanvasH};
  Image g;
  // A drawing is drawn at the canvas size when that is fixed, else at its own.
  if (state.FixedSize) {
    g.LoadBitmapBytes(std::move(bytes), path, state.CanvasW, state.CanvasH);
  } else {
    g.LoadBitmapBytes(std::move(bytes), path, 0, 0);
  }
  g.SetBackColor(form.PreviewTag());
  if (g.BitmapType() != kWorkingKind) g.ChangeColorDepth(0, kWorkingKind, 0);
  if (state.FixedSize) {
    FitToCanvas(state.CanvasW, state.CanvasH, g);
  } else {
    // Free size: each axis takes the smallest length met since Set. A
    // dimension below 1 cannot bound anything and counts as unset.
    if (state.CanvasW <= 0 || state.CanvasW > g.Width()) state.CanvasW = g.Width();
    if (state.CanvasH <= 0 || state.CanvasH > g.Height()) state.CanvasH = g.Height();
    for (Image& s : state.Sources) {
      if (s.Width() > state.CanvasW || s.Height() > state.CanvasH)
        FitToCanvas(state.CanvasW, state.CanvasH, s);
    }
    if (g.Width() > state.CanvasW || g.Height() > state.CanvasH) FitToCanvas(state.CanvasW, state.CanvasH, g);
    form.SetResolutionCaption(ResolutionCaption(state));
  }
  state.SourceFiles.resize(state.Sources.size());
  state.SourceFiles.push_back(std::move(origin));
  state.Sources.push_back(std::move(g));
  state.SourceCount = static_cast<std::int32_t>(state.Sources.size());
}

// One step of a drop: a failure abandons the step and the drop goes on.
template <class Step>
void IgnoringFailure(Step&& step) {
  try {
    step();
  } catch (const std::exception&) {
  }
}

// Holds Busy for a drop and clears it however the drop ends.
class DropGuard {
 public:
  DropGuard(FormState& state, Form& form) : m_state(state), m_form(form) { m_state.Busy = true; }
  ~DropGuard() {
    try {
      m_form.SetStatus("");
    } catch (...) {  // a destructor must not throw; Busy matters more
    }
    m_state.Busy = false;
  }
  DropGuard(const DropGuard&) = delete;
  DropGuard& operator=(const DropGuard&) = delete;

 private:
  FormState& m_state;
  Form& m_form;
};

// The error that stopped a load, or nothing when the picture was stored.
std::optional<ImageError> TryLoad(FormState& state, Form& form, const std::string& path) {
  try {
    LoadAndStore(state, form, path);
    return std::nullopt;
  } catch (const ImageError& error) {
    return error;
  } catch (const std::bad_alloc&) {
    return ImageError(kErrorOutOfMemory, "Not enough memory to load " + ReadableName(path));
  } catch (const std::exception& error) {
    return ImageError(kErrorLoadInterrupted, error.what());
  }
}

}  // namespace

std::int32_t LoadSourcePicture(FormState& state, Form& form, const std::string& path,
                               std::string& description) {
  const std::optional<ImageError> error = TryLoad(state, form, path);
  description = error ? error->Description() : std::string();
  return error ? error->Number() : 0;
}

std::int32_t LoadSourcePicture(FormState& state, Form& form, const std::string& path) {
  std::string ignored;
  return LoadSourcePicture(state, form, path, ignored);
}

std::optional<ImageError> LoadDroppedFiles(FormState& state, Form& form,
                                           const std::optional<std::vector<std::string>>& files) {
  if (state.Busy) return std::nullopt;
  std::optional<ImageError> refused;
  DropGuard guard(state, form);
  if (!files) return refused;
  // The list as it was when the drop arrived; events handled in between
  // cannot change what this drop loads.
  std::vector<std::string> paths;
  IgnoringFailure([&] { paths = *files; });
  const std::size_t n = paths.size();
  for (std::size_t i = 0; i < n; ++i) {
    if (auto error = TryLoad(state, form, paths[i])) {
      refused = std::move(error);
      continue;
    }
    IgnoringFailure(
        [&] { form.SetFileCountCaption(form.FileCountTag() + std::to_string(state.SourceCount)); });
    IgnoringFailure([&] { form.SetStatus(std::string(n - i, '.')); });
    IgnoringFailure([&] { form.ProcessEvents(); });
  }
  return refused;
}

}  // namespace pictovance
