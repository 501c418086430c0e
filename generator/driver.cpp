#include "generator/driver.h"

#include <algorithm>

#include "generator/block_painter.h"
#include "generator/driver_steps.h"
#include "generator/effects.h"
#include "generator/preview.h"
#include "imaging/heap.h"

namespace pictovance {

std::string Dots(int count) { return std::string(static_cast<std::size_t>(std::max(count, 0)), '.'); }

namespace {

constexpr int kDefaultWidth = 800;
constexpr int kDefaultHeight = 400;

// Ends a run: however it ends, Busy is cleared and the status line emptied.
class RunGuard {
 public:
  RunGuard(FormState& state, Form& form) : m_state(state), m_form(form) { m_state.Busy = true; }
  ~RunGuard() {
    if (!m_closed) {
      m_form.SetStatus("");
      m_state.Busy = false;
    }
  }
  void Close() {
    m_form.SetStatus("");
    m_state.Busy = false;
    m_closed = true;
  }
  RunGuard(const RunGuard&) = delete;
  RunGuard& operator=(const RunGuard&) = delete;

 private:
  FormState& m_state;
  Form& m_form;
  bool m_closed = false;
};

}  // namespace

void GeneratePicture(FormState& state, Form& form, Random& rng) {
  // 1. Settings.
  const int W = state.CanvasW < 1 ? kDefaultWidth : state.CanvasW;
  const int H = state.CanvasH < 1 ? kDefaultHeight : state.CanvasH;
  const bool specialEffects = form.SpecialEffectsTicked();
  bool paletteMode = state.SourceCount == 0;
  bool thickPen = rng.Flag(0.5);

  // 2. One run at a time.
  if (state.Busy) return;
  RunGuard guard(state, form);

  // 3. Colour sources and canvas.
  Image canvas;
  std::int32_t n = 0;
  std::int32_t backgroundIndex = 0;
  std::int32_t currentIndex = 0;
  if (paletteMode) {
    n = rng.RandomInt(16) + 2;
    for (std::int32_t k = 1; k <= n; ++k)
      state.Palette[static_cast<std::size_t>(k)] = rng.RandomInt(16777215);
    backgroundIndex = rng.RandomIndex(n);
    canvas.CreateBitmap(W, H, state.Palette[static_cast<std::size_t>(backgroundIndex)]);
    currentIndex = rng.RandomIndex(n);
  } else {
    n = state.SourceCount;
    backgroundIndex = rng.RandomIndex(n);
    canvas.AssignPicture(state.Sources[static_cast<std::size_t>(backgroundIndex - 1)].GetPicture());
    currentIndex = rng.RandomIndex(n);
  }
  FitHeapToPicture(std::size_t{4} * static_cast<std::size_t>(canvas.Width()) *
                   static_cast<std::size_t>(canvas.Height()));
  const ColourSources colours{paletteMode, state.Palette, state.Sources};
  DotPainter painter(canvas);

  // 4. First dots.
  form.SetStatus(Dots(rng.RandomInt(2) + 3));

  // 5. Column phase.
  SwitchTracker switches{SwitchThresholdFor(W)};
  bool mirrorX = false;
  bool mirrorY = false;
  for (int i = 0; i < W; ++i) {
    rng.Redraw(thickPen, 0.5, 0.5);
    if (rng.Chance(0.04)) {
      if (switches.Offer(i)) currentIndex = rng.RandomIndex(n);
      if (rng.Chance(0.1)) {
        form.SetStatus(Dots(rng.RandomInt(2) + 2));
        form.ProcessEvents();
      }
    }
    rng.Redraw(mirrorX, 0.05, 0.3);
    rng.Redraw(mirrorY, 0.05, 0.3);
    const RowRange rows = ChooseRows(H, rng);
    if (currentIndex == backgroundIndex && !mirrorX && !mirrorY) continue;
    painter.Paint(i, rows.top, rows.bottom,
                  PenSettings{colours, currentIndex, W - 1, H - 1, thickPen, mirrorX, mirrorY}, rng);
  }

  // 6. Block phase.
  const std::int32_t blocks = BlockCount(switches.SwitchCount, rng);
  for (std::int32_t b = 0; b < blocks; ++b) {
    const BlockRect r = ChooseBlock(W, H, switches.SwitchThreshold, switches.LongestRun, rng);
    currentIndex = rng.RandomIndex(n);
    if (rng.Chance(0.3)) {
      form.SetStatus(Dots(rng.RandomInt(2) + 1));
      form.ProcessEvents();
    }
    thickPen = rng.Flag(0.5);
    PaintBlock(r, backgroundIndex, PenSettings{colours, currentIndex, W - 1, H - 1, thickPen}, painter, rng);
  }
  painter.Finish();

  // 7. Finishing pass.
  if (specialEffects) ApplySpecialEffects(canvas, paletteMode, rng);

  // 8. Publish.
  state.Result.reset();
  state.Result.emplace(std::move(canvas));
  ShowPreview(*state.Result, form);

  // 9. Close.
  guard.Close();
  if (form.AboutVisible()) form.ToggleAbout();
}

}  // namespace pictovance
