// Painting plus saving, side by side with its yardstick, on the same
// pictures: 800 x 400 palette-mode pictures without the finishing pass,
// painted from the fixed seeds 1..kPictures, one per iteration in turn.
//
//   Paint          painting alone
//   PaintSave      painting, then the image object's PNG save at level 8
//                  into a file in a temporary folder (the save path without
//                  the choice of a free name)
//   EncodePng      the program's PNG encoder alone, into memory
//   LibpngDefault  libpng with its default settings (every row filter
//                  tried on every row) at zlib level 8, into memory, from
//                  the same pixels already laid out as RGB rows
//   QtWriter       Qt's PNG writer at level 8, into memory, the way pictures
//                  were saved before
//   SideBySide     PaintSave and LibpngDefault in turns, picture by picture,
//                  with their ratio
//
// The goal reads PaintSave / LibpngDefault, best from SideBySide's ratio,
// which a shared machine's load sways least; the bytes counters give the
// average file size of each encoder. Run it pinned, e.g.
//   taskset -c 1 bench_save --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include <benchmark/benchmark.h>
#include <png.h>
#include <unistd.h>

#include <QBuffer>
#include <QImageWriter>
#include <chrono>
#include <filesystem>
#include <stdexcept>
#include <vector>

#include "generator/driver.h"
#include "generator/form.h"
#include "generator/headless_form.h"
#include "generator/random.h"
#include "imaging/png_encoder.h"
#include "imaging/qt_bridge.h"

namespace pv = pictovance;

namespace {

constexpr int kPictures = 16;

pv::Image PaintPicture(int index) {
  pv::FormState form;
  pv::HeadlessForm headless(false);
  pv::Random rng(static_cast<std::uint64_t>(index % kPictures) + 1);
  pv::GeneratePicture(form, headless, rng);
  return std::move(*form.Result);
}

// The pictures and their pixels as QImages, painted once.
const std::vector<QImage>& Pictures() {
  static const std::vector<QImage> pictures = [] {
    std::vector<QImage> all;
    for (int k = 0; k < kPictures; ++k) all.push_back(pv::ToQImage(PaintPicture(k).GetPicture()));
    return all;
  }();
  return pictures;
}

// The mean size in bytes of the files of all the pictures, measured
// outside the timed loop.
template <class SizeOf>
double MeanBytes(SizeOf sizeOf) {
  double total = 0;
  for (int k = 0; k < kPictures; ++k) total += static_cast<double>(sizeOf(k));
  return total / kPictures;
}

void Paint(benchmark::State& state) {
  int index = 0;
  for (auto _ : state) {
    pv::Image picture = PaintPicture(index++);
    benchmark::DoNotOptimize(picture.Width());
  }
}
BENCHMARK(Paint)->Unit(benchmark::kMillisecond)->Name("Paint/800x400");

void PaintSave(benchmark::State& state) {
  const auto folder =
      std::filesystem::temp_directory_path() / ("pv-bench-save-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "picture.png").string();
  const auto paintSave = [&path](int index) {
    pv::Image picture = PaintPicture(index);
    picture.SetSaveFormat(3);
    picture.SetSavePNGCompression(8);
    picture.SaveBitmap(path);
  };
  int index = 0;
  for (auto _ : state) paintSave(index++);
  state.counters["bytes"] = MeanBytes([&](int k) {
    paintSave(k);
    return std::filesystem::file_size(path);
  });
  std::filesystem::remove_all(folder);
}
BENCHMARK(PaintSave)->Unit(benchmark::kMillisecond)->Name("PaintSave/800x400/level8");

void EncodePng(benchmark::State& state) {
  const auto& pictures = Pictures();
  std::size_t index = 0;
  for (auto _ : state) benchmark::DoNotOptimize(pv::EncodePng(pictures[index++ % pictures.size()], 8, {}));
  state.counters["bytes"] = MeanBytes([&](int k) { return pv::EncodePng(pictures[k], 8, {}).size(); });
}
BENCHMARK(EncodePng)->Unit(benchmark::kMillisecond)->Name("EncodePng/800x400/level8");

struct RgbRows {
  int width = 0;
  int height = 0;
  std::vector<unsigned char> pixels;
};

RgbRows ToRgbRows(const QImage& image) {
  RgbRows rows{image.width(), image.height(), {}};
  rows.pixels.reserve(static_cast<std::size_t>(rows.width) * rows.height * 3);
  for (int y = 0; y < rows.height; ++y) {
    for (int x = 0; x < rows.width; ++x) {
      const QRgb p = image.pixel(x, y);
      rows.pixels.insert(rows.pixels.end(),
                         {static_cast<unsigned char>(qRed(p)), static_cast<unsigned char>(qGreen(p)),
                          static_cast<unsigned char>(qBlue(p))});
    }
  }
  return rows;
}

void AppendToVector(png_structp png, png_bytep data, png_size_t size) {
  auto* out = static_cast<std::vector<unsigned char>*>(png_get_io_ptr(png));
  out->insert(out->end(), data, data + size);
}

std::vector<unsigned char> LibpngEncode(const RgbRows& rows) {
  std::vector<unsigned char> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    throw std::runtime_error("libpng failed");
  }
  png_set_write_fn(png, &out, AppendToVector, nullptr);
  png_set_compression_level(png, 8);
  png_set_IHDR(png, info, static_cast<png_uint_32>(rows.width), static_cast<png_uint_32>(rows.height), 8,
               PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  const std::size_t stride = static_cast<std::size_t>(rows.width) * 3;
  for (int y = 0; y < rows.height; ++y) {
    png_write_row(png, rows.pixels.data() + stride * static_cast<std::size_t>(y));
  }
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

void LibpngDefault(benchmark::State& state) {
  std::vector<RgbRows> rows;
  for (const QImage& picture : Pictures()) rows.push_back(ToRgbRows(picture));
  std::size_t index = 0;
  for (auto _ : state) benchmark::DoNotOptimize(LibpngEncode(rows[index++ % rows.size()]));
  state.counters["bytes"] = MeanBytes([&](int k) { return LibpngEncode(rows[k]).size(); });
}
BENCHMARK(LibpngDefault)->Unit(benchmark::kMillisecond)->Name("LibpngDefault/800x400/level8");

// The goal's ratio measured in turns: each iteration paints and saves one
// picture, then has libpng encode the same picture, each timed on its own,
// so a slower or busier moment of a shared machine weighs on both sides
// alike. Counters: the mean of each side in ms, and ratio (paint + save
// over libpng) of their totals.
void SideBySide(benchmark::State& state) {
  using Clock = std::chrono::steady_clock;
  const auto folder =
      std::filesystem::temp_directory_path() / ("pv-bench-turns-" + std::to_string(::getpid()));
  std::filesystem::create_directories(folder);
  const std::string path = (folder / "picture.png").string();
  std::vector<RgbRows> rows;
  for (const QImage& picture : Pictures()) rows.push_back(ToRgbRows(picture));
  Clock::duration ours{}, libpng{};
  int index = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    pv::Image picture = PaintPicture(index);
    picture.SetSaveFormat(3);
    picture.SetSavePNGCompression(8);
    picture.SaveBitmap(path);
    const auto saved = Clock::now();
    benchmark::DoNotOptimize(LibpngEncode(rows[static_cast<std::size_t>(index % kPictures)]));
    libpng += Clock::now() - saved;
    ours += saved - start;
    ++index;
  }
  const auto ms = [&](Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count() / index; };
  state.counters["paint_save_ms"] = ms(ours);
  state.counters["libpng_ms"] = ms(libpng);
  state.counters["ratio"] = ms(ours) / ms(libpng);
  std::filesystem::remove_all(folder);
}
BENCHMARK(SideBySide)->Unit(benchmark::kMillisecond)->Name("SideBySide/800x400/level8");

void QtWriter(benchmark::State& state) {
  const auto& pictures = Pictures();
  const auto write = [&pictures](int k) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    writer.setQuality(100 - (8 * 91 + 8) / 9);  // zlib level 8
    writer.write(pictures[k]);
    return buffer.size();
  };
  int index = 0;
  for (auto _ : state) benchmark::DoNotOptimize(write(index++ % kPictures));
  state.counters["bytes"] = MeanBytes(write);
}
BENCHMARK(QtWriter)->Unit(benchmark::kMillisecond)->Name("QtWriter/800x400/level8");

}  // namespace
