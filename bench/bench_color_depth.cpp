// Speed of ChangeColorDepth on an 800 x 400 picture: each colour count the
// colour-depth step draws (16, 32, 64, 128, 216, 256), plain and dithered,
// on a picture of many colours (the adaptive palette) and on one of few
// (they fit and are kept). Goals: 25 ms plain, 50 ms dithered.
//
// Run (median of repetitions):
//   bench_color_depth --benchmark_repetitions=7 --benchmark_report_aggregates_only=true
// On one thread (libimagequant uses OpenMP, OpenCV its own pool):
//   OMP_NUM_THREADS=1 OPENCV_FOR_THREADS_NUM=1 taskset -c 0 bench_color_depth ...
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <string>

#include "imaging/image.h"

namespace pictovance {
namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 400;

// Bands and blocks of flat colour with thin lines: a palette-mode picture.
void PaintFlat(Image& image) {
  image.CreateBitmap(kWidth, kHeight, 0x203040);
  std::uint32_t state = 777;
  const auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (int x = 0; x < kWidth; ++x) {
    if (x % 53 == 0) image.SetLineColor(static_cast<Colour>(next() & 0xFFFFFF));
    image.DrawLine(x, 0, x, kHeight - 1);
  }
  for (int y = 3; y < kHeight; y += 9) {
    image.SetLineColor(static_cast<Colour>(next() & 0xFFFFFF));
    image.DrawLine(0, y, kWidth - 1, y);
  }
}

// Smooth ramps with noise over the flat picture, softened the way the
// filters and copied source pixels leave it: tens of thousands of colours.
void PaintRich(Image& image) {
  PaintFlat(image);
  std::uint32_t state = 99;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      state = state * 1664525u + 1013904223u;
      if ((x / 100 + y / 100) % 2 == 0) continue;
      const int noise = static_cast<int>((state >> 24) % 32);
      image.SetLineColor((x * 255 / kWidth) | (std::min(255, y * 255 / kHeight + noise) << 8) |
                         (((x + y) % 256) << 16));
      image.DrawPoint(x, y);
    }
  }
  image.GaussianBlur(2);
}

void BM_ChangeColorDepth(benchmark::State& state, bool rich) {
  const int count = static_cast<int>(state.range(0));
  const int dither = static_cast<int>(state.range(1));
  static const Picture richPicture = [] {
    Image image;
    PaintRich(image);
    return image.GetPicture();
  }();
  static const Picture flatPicture = [] {
    Image image;
    PaintFlat(image);
    return image.GetPicture();
  }();
  Image image;
  for (auto _ : state) {
    state.PauseTiming();
    image.AssignPicture(rich ? richPicture : flatPicture);
    state.ResumeTiming();
    image.ChangeColorDepth(count, 1, dither);
    benchmark::DoNotOptimize(image.GetColorAt(kWidth / 2, kHeight / 2));
  }
}

void Counts(benchmark::internal::Benchmark* b) {
  b->ArgNames({"colours", "dither"});
  for (int dither : {0, 1}) {
    for (int count : {16, 32, 64, 128, 216, 256}) b->Args({count, dither});
  }
  b->Unit(benchmark::kMillisecond);
}

BENCHMARK_CAPTURE(BM_ChangeColorDepth, rich, true)->Apply(Counts);
BENCHMARK_CAPTURE(BM_ChangeColorDepth, flat, false)->Apply(Counts);

// The step that follows every reduction: back to the working kind.
void BM_BackToWorkingKind(benchmark::State& state) {
  Image reduced;
  PaintRich(reduced);
  reduced.ChangeColorDepth(64, 1, 0);
  const Picture picture = reduced.GetPicture();
  Image image;
  for (auto _ : state) {
    state.PauseTiming();
    image.AssignPicture(picture);
    state.ResumeTiming();
    image.ChangeColorDepth(64, 0, 0);
    benchmark::DoNotOptimize(image.GetColorAt(kWidth / 2, kHeight / 2));
  }
}
BENCHMARK(BM_BackToWorkingKind)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace pictovance
