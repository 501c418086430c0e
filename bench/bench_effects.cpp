// Speed of the finishing pass: whole 800 x 400 pictures with the special-
// effects box ticked, one seed per picture, against the same seeds with the
// box clear; and each step made to act on every call, for the worst case.
//
// The goal is the mean of Picture/800x400/effects (one thread):
//   bench_effects --benchmark_filter=Picture
// Every run paints the same seeds 1..kPictures, so figures compare across
// builds.

#include <benchmark/benchmark.h>

#include <cstdint>

#include "generator/driver.h"
#include "generator/finishing_pass.h"
#include "generator/form.h"
#include "generator/headless_form.h"
#include "generator/random.h"
#include "imaging/image.h"

namespace pv = pictovance;

namespace {

constexpr int kPictures = 400;

// One picture per iteration, seeds 1, 2, 3, ...: the reported time is the
// mean over the seeds.
void Picture(benchmark::State& state) {
  const bool effects = state.range(0) != 0;
  pv::FormState form;  // 0 x 0 paints the default 800 x 400
  pv::HeadlessForm bench(effects);
  pv::Random rng;
  std::uint64_t seed = 0;
  for (auto _ : state) {
    rng.Seed(++seed);
    pv::GeneratePicture(form, bench, rng);
    benchmark::DoNotOptimize(form.Result->GetColorAt(0, 0));
    form.Result.reset();
  }
}
BENCHMARK(Picture)
    ->Arg(1)
    ->Name("Picture/800x400/effects")
    ->Iterations(kPictures)
    ->Unit(benchmark::kMillisecond);
BENCHMARK(Picture)
    ->Arg(0)
    ->Name("Picture/800x400/no_effects")
    ->Iterations(kPictures)
    ->Unit(benchmark::kMillisecond);

// A painted 800 x 400 canvas to run single steps on; copied per iteration
// outside the timing.
pv::Picture PaintedCanvas() {
  pv::FormState form;
  pv::HeadlessForm bench(false);
  pv::Random rng(7);
  pv::GeneratePicture(form, bench, rng);
  return form.Result->GetPicture();
}

template <class Step>
void RunStep(benchmark::State& state, Step step) {
  const pv::Picture painted = PaintedCanvas();
  pv::Random rng;
  std::uint64_t seed = 0;
  for (auto _ : state) {
    state.PauseTiming();
    pv::Image canvas;
    canvas.AssignPicture(painted);
    canvas.SetLineWidth(1);
    canvas.DrawPoint(0, 0);  // detach from the shared pixels before timing
    rng.Seed(++seed);
    state.ResumeTiming();
    step(canvas, rng);
    benchmark::DoNotOptimize(canvas.GetColorAt(0, 0));
  }
}

// All four overlays on every call.
void AllOverlays(benchmark::State& state) {
  RunStep(state, [](pv::Image& canvas, pv::Random& rng) { pv::DrawLinePatterns(1.0f, canvas, rng); });
}
BENCHMARK(AllOverlays)->Name("Step/800x400/all_overlays")->Iterations(100)->Unit(benchmark::kMillisecond);

// A filter on every try of a palette-mode chain (15 filters).
void FullFilterChain(benchmark::State& state) {
  RunStep(state, [](pv::Image& canvas, pv::Random& rng) { pv::ApplyRandomFilters(1.0f, true, canvas, rng); });
}
BENCHMARK(FullFilterChain)
    ->Name("Step/800x400/fifteen_filters")
    ->Iterations(50)
    ->Unit(benchmark::kMillisecond);

// The colour-depth step when its chance comes up.
void ColourDepth(benchmark::State& state) {
  RunStep(state, [](pv::Image& canvas, pv::Random& rng) {
    pv::ReduceColorDepth(false, rng.Flag(0.1f), canvas, rng);
    canvas.ChangeColorDepth(0, 0, 0);
  });
}
BENCHMARK(ColourDepth)->Name("Step/800x400/colour_depth")->Iterations(50)->Unit(benchmark::kMillisecond);

}  // namespace
