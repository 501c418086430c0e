// Speed of every filter member on an 800 x 400 picture, at the ends of the
// argument ranges the filter chain uses and beyond them. The goal: no filter
// above 10 ms, whatever its argument, on one thread.
//
// Run (median of repetitions):
//   bench_filters --benchmark_repetitions=7 --benchmark_report_aggregates_only=true
// On one thread (OpenCV reads OPENCV_FOR_THREADS_NUM when it starts):
//   OPENCV_FOR_THREADS_NUM=1 taskset -c 0 bench_filters --benchmark_repetitions=7 ...
#include <benchmark/benchmark.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include <opencv2/imgproc.hpp>

#include "imaging/bitmap_p.h"
#include "imaging/image.h"

namespace pictovance {
namespace {

constexpr int kWidth = 800;
constexpr int kHeight = 400;

// Like the painter's pictures: vertical bands and blocks of flat colour,
// thin lines, a smooth gradient and some noise, so filters meet flat
// areas, hard edges and many colours.
Picture MakeTestPicture() {
  Image image;
  image.CreateBitmap(kWidth, kHeight, 0x203040);
  std::uint32_t state = 12345;
  const auto next = [&state] {
    state = state * 1664525u + 1013904223u;
    return state >> 8;
  };
  for (int x = 0; x < kWidth; ++x) {
    if (x % 37 == 0) image.SetLineColor(static_cast<Colour>(next() & 0xFFFFFF));
    image.DrawLine(x, 0, x, kHeight - 1);
  }
  for (int k = 0; k < 60; ++k) {
    image.SetLineColor(static_cast<Colour>(next() & 0xFFFFFF));
    const int x = static_cast<int>(next() % kWidth), y = static_cast<int>(next() % kHeight);
    const int w = 10 + static_cast<int>(next() % 120), h = 10 + static_cast<int>(next() % 80);
    for (int row = y; row < y + h; ++row) image.DrawLine(x, row, x + w, row);
  }
  for (int y = 0; y < kHeight; y += 6) {
    image.SetLineColor(static_cast<Colour>(next() & 0xFFFFFF));
    image.DrawLine(0, y, kWidth - 1, y + 40);
  }
  for (int y = 250; y < kHeight; ++y) {
    for (int x = 400; x < kWidth; ++x) {
      const int noise = static_cast<int>(next() % 24);
      const int r = (x - 400) * 255 / 400, g = (y - 250) * 255 / 150, b = (r + g) / 2 + noise;
      image.SetLineColor(r | (g << 8) | (std::min(b, 255) << 16));
      image.DrawPoint(x, y);
    }
  }
  return image.GetPicture();
}

struct FilterRun {
  std::string name;
  std::function<void(Image&)> apply;
};

std::vector<FilterRun> Runs() {
  std::vector<FilterRun> runs = {
      {"EnhanceDetail", [](Image& i) { i.EnhanceDetail(); }},
      {"EnhanceFocus", [](Image& i) { i.EnhanceFocus(); }},
      {"FocusRestoration", [](Image& i) { i.FocusRestoration(); }},
      {"Equalize", [](Image& i) { i.Equalize(); }},
      {"EqualizeOnLuminance", [](Image& i) { i.EqualizeOnLuminance(); }},
      {"Negative", [](Image& i) { i.Negative(); }},
      {"Sepia/15/0x787878", [](Image& i) { i.Sepia(15, 0x787878); }},
      {"Sepia/45/0xFFFFFF", [](Image& i) { i.Sepia(45, 0xFFFFFF); }},
      {"Balance/0", [](Image& i) { i.Balance(0); }},
      {"Balance/0xFFFFFF", [](Image& i) { i.Balance(0xFFFFFF); }},
      {"FlipHorizontal", [](Image& i) { i.FlipHorizontal(); }},
      {"FlipVertical", [](Image& i) { i.FlipVertical(); }},
      {"LogCorrection", [](Image& i) { i.LogCorrection(); }},
      {"EdgeDetectLight", [](Image& i) { i.EdgeDetectLight(); }},
      {"EdgeDetectMedium", [](Image& i) { i.EdgeDetectMedium(); }},
      {"EdgeDetectHeavy", [](Image& i) { i.EdgeDetectHeavy(); }},
      {"Emboss", [](Image& i) { i.Emboss(); }},
      {"EmbossMore", [](Image& i) { i.EmbossMore(); }},
  };
  const auto add = [&runs](const std::string& name, std::initializer_list<int> values,
                           void (Image::*member)(std::int32_t)) {
    for (int v : values)
      runs.push_back({name + "/" + std::to_string(v), [member, v](Image& i) { (i.*member)(v); }});
  };
  add("hue", {1, 128, 256}, &Image::hue);
  add("saturation", {-50, 50, 1000}, &Image::saturation);
  add("Blur", {1, 50, 100, 1000}, &Image::Blur);
  add("GaussianBlur", {1, 6, 7, 20, 50, 100, 300, 100000}, &Image::GaussianBlur);
  add("brightness", {-100, 100}, &Image::brightness);
  add("contrast", {-100, 100}, &Image::contrast);
  add("lightness", {-20, 20}, &Image::lightness);
  add("Sharpen", {1, 255, 5000}, &Image::Sharpen);
  for (double g : {-0.999, 0.3, 1.299, 10.0}) {
    runs.push_back({"Gamma/" + std::to_string(g), [g](Image& i) { i.Gamma(g); }});
  }
  return runs;
}

void RunFilter(benchmark::State& state, const std::function<void(Image&)>& apply) {
  static const Picture picture = MakeTestPicture();
  Image image;
  for (auto _ : state) {
    state.PauseTiming();
    image.AssignPicture(picture);
    image.MutableBitmap();  // detach here, so the copy is not timed
    state.ResumeTiming();
    apply(image);
    benchmark::DoNotOptimize(image.GetColorAt(kWidth / 2, kHeight / 2));
  }
}

// A wide box over a big picture, which the image object blurs whole in
// bands on every picture thread, against OpenCV's whole-picture box filter
// (one thread) on the same pixels: 9999 x 1500, radius 40.
cv::Mat BigBlurPicture() {
  Image image;
  image.CreateBitmap(9999, 1500, 0x203040);
  cv::Mat pixels = WrapPixels(WorkingImage(image)).clone();
  cv::randu(pixels, 0, 256);
  return pixels;
}

void BigBlur(benchmark::State& state) {
  static const cv::Mat source = BigBlurPicture();
  const bool ours = state.range(0) == 1;
  Image image;
  for (auto _ : state) {
    state.PauseTiming();
    image.CreateBitmap(source.cols, source.rows, 0);
    cv::Mat pixels = WrapPixels(WorkingImage(image));
    source.copyTo(pixels);
    state.ResumeTiming();
    if (ours) {
      image.Blur(40);
    } else {
      cv::blur(pixels, pixels, cv::Size(81, 81), cv::Point(-1, -1), cv::BORDER_REFLECT);
    }
    benchmark::DoNotOptimize(image.GetColorAt(100, 100));
  }
  state.SetLabel(ours ? "Image::Blur" : "cv::blur");
}
BENCHMARK(BigBlur)->Arg(1)->Arg(0)->Unit(benchmark::kMillisecond)->UseRealTime();

// Registered before main runs, like the BENCHMARK macros do.
const bool registered = [] {
  for (const auto& run : Runs()) {
    benchmark::RegisterBenchmark(("BM_Filter/" + run.name).c_str(), RunFilter, run.apply)
        ->Unit(benchmark::kMillisecond);
  }
  return true;
}();

}  // namespace
}  // namespace pictovance
