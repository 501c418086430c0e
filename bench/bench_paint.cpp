// Painting and saving speed: one picture of bands and blocks at several
// sizes (no finishing pass), and the PNG save of an 800 x 400 picture.
//
// Peak memory of the largest size: run it alone and read the counter
//   bench_paint --benchmark_filter=Paint/9999
// peak_rss_over_bitmap is the process's peak resident size divided by the
// bitmap's bytes (W x H x 4).

#include <benchmark/benchmark.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>

#include "generator/driver.h"
#include "generator/form.h"
#include "generator/headless_form.h"
#include "generator/preview.h"
#include "generator/random.h"

namespace pv = pictovance;

namespace {

double PeakRssBytes() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return static_cast<double>(usage.ru_maxrss) * 1024.0;
}

void Paint(benchmark::State& state) {
  const int side = static_cast<int>(state.range(0));
  pv::FormState form;
  form.CanvasW = side == 800 ? 800 : side;
  form.CanvasH = side == 800 ? 400 : side;
  pv::HeadlessForm bench(false);
  pv::Random rng(12345);
  for (auto _ : state) {
    pv::GeneratePicture(form, bench, rng);
    benchmark::DoNotOptimize(form.Result->Width());
    form.Result.reset();
  }
  const double bitmapBytes = 4.0 * form.CanvasW * form.CanvasH;
  state.counters["peak_rss_over_bitmap"] = PeakRssBytes() / bitmapBytes;
}
BENCHMARK(Paint)->Arg(800)->Unit(benchmark::kMillisecond)->Name("Paint/800x400");
BENCHMARK(Paint)->Arg(4000)->Unit(benchmark::kMillisecond)->Name("Paint/4000x4000")->Iterations(3);
BENCHMARK(Paint)->Arg(9999)->Unit(benchmark::kMillisecond)->Name("Paint/9999x9999")->Iterations(1);

// The preview's share of a picture: fitting a copy of an 800 x 400 picture
// to the 400 x 300 preview area.
void Preview(benchmark::State& state) {
  pv::FormState form;
  pv::HeadlessForm bench(false);
  pv::Random rng(12345);
  pv::GeneratePicture(form, bench, rng);
  for (auto _ : state) pv::ShowPreview(*form.Result, bench);
}
BENCHMARK(Preview)->Unit(benchmark::kMillisecond)->Name("Preview/800x400");

void SavePng(benchmark::State& state) {
  pv::FormState form;
  pv::HeadlessForm bench(false);
  pv::Random rng(12345);
  pv::GeneratePicture(form, bench, rng);
  const auto path = std::filesystem::temp_directory_path() / ("pv-bench-" + std::to_string(::getpid()));
  form.Result->SetSaveFormat(3);
  form.Result->SetSavePNGCompression(8);
  for (auto _ : state) form.Result->SaveBitmap(path.string());
  std::filesystem::remove(path.string() + ".png");
}
BENCHMARK(SavePng)->Unit(benchmark::kMillisecond)->Name("SavePng/800x400/compression8");

}  // namespace
