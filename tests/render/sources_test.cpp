// Sources the renderer is handed, seen from outside: special files and tiny
// bombs are refused in time and within memory with exactly one line on
// stderr, odd names load, and a stop signal ends the renderer at any moment.
// Every run is a child process under a watchdog, so a hang fails the test
// instead of holding it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <QBuffer>
#include <QImage>
#include <QImageWriter>
#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "tests/canvas/test_files.h"

namespace pictovance {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;
using testing::TempFolder;

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kSanitized = true;
#else
constexpr bool kSanitized = false;
#endif
#else
constexpr bool kSanitized = false;
#endif
// A sanitized renderer is several times slower and maps far more memory.
constexpr int kSlowdown = kSanitized ? 5 : 1;

struct Outcome {
  bool ended = false;  // false: killed by the watchdog
  int status = -1;     // the exit status, or -1 when a signal ended it
  std::vector<std::string> errorLines;
  long peakKb = 0;  // the child's peak resident memory
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::size_t from = 0;
  while (from < text.size()) {
    const std::size_t end = text.find('\n', from);
    lines.push_back(text.substr(from, end - from));
    if (end == std::string::npos) break;
    from = end + 1;
  }
  return lines;
}

// Runs the renderer with args, its memory for data bounded by dataLimit
// bytes (0: unbounded), killing it when it has not ended within limit;
// whenStarted runs once the child is running.
Outcome RunRenderer(std::vector<std::string> args, std::chrono::milliseconds limit, rlim_t dataLimit,
                    const fs::path& logs, const std::function<void(pid_t)>& whenStarted = {}) {
  args.insert(args.begin(), PV_RENDER);
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  const fs::path errors = logs / "stderr.txt";
  const pid_t child = ::fork();
  if (child == 0) {
    const int out = ::open("/dev/null", O_WRONLY);
    const int err = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    if (dataLimit > 0) {
      const rlimit bound{dataLimit, dataLimit};
      ::setrlimit(RLIMIT_DATA, &bound);
    }
    ::execv(PV_RENDER, argv.data());
    ::_exit(127);
  }
  Outcome outcome;
  if (child < 0) return outcome;
  if (whenStarted) whenStarted(child);
  const auto deadline = Clock::now() + limit * kSlowdown;
  int status = 0;
  rusage usage{};
  while (::wait4(child, &status, WNOHANG, &usage) == 0) {
    if (Clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::wait4(child, &status, 0, &usage);
      outcome.errorLines = Lines(testing::ReadBytes(errors.string()));
      return outcome;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  outcome.ended = true;
  outcome.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  outcome.errorLines = Lines(testing::ReadBytes(errors.string()));
  outcome.peakKb = usage.ru_maxrss;
  return outcome;
}

std::vector<std::string> RenderArgs(const std::string& source, const fs::path& out) {
  return {"--size",  "800x400",  "--seed", "1",     "--no-effects",
          "--quiet", "--source", source,   "--out", out.string()};
}

// A refusal is one line in the renderer's words, naming why.
::testing::AssertionResult RefusedInOneLine(const Outcome& outcome, const std::string& why) {
  if (!outcome.ended) return ::testing::AssertionFailure() << "did not end in time";
  if (outcome.status != 2) return ::testing::AssertionFailure() << "exit status " << outcome.status;
  if (outcome.errorLines.size() != 1) {
    auto failure = ::testing::AssertionFailure() << outcome.errorLines.size() << " lines on stderr:";
    for (const std::string& line : outcome.errorLines) failure << "\n  " << line;
    return failure;
  }
  const std::string& line = outcome.errorLines.front();
  if (line.rfind("pictovance-render: cannot use the source ", 0) != 0 ||
      line.find(why) == std::string::npos) {
    return ::testing::AssertionFailure() << "the line does not say \"" << why << "\": " << line;
  }
  return ::testing::AssertionSuccess();
}

std::string PngBytes(int width, int height) {
  QImage picture(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) picture.setPixel(x, y, qRgb(x * 7, y * 5, (x ^ y) * 3));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  picture.save(&buffer, "png");
  return bytes.toStdString();
}

// --- Special files ------------------------------------------------------------

struct SpecialFile {
  const char* name;
  // Makes the file in folder and returns the name to give; empty skips.
  std::function<std::string(const TempFolder&)> make;
  const char* refusal;  // what the line says, or nullptr: it loads
};
void PrintTo(const SpecialFile& file, std::ostream* out) { *out << file.name; }

class SpecialFileTest : public ::testing::TestWithParam<SpecialFile> {
 protected:
  TempFolder folder;
};

// Each is refused at once, or loads, within two seconds: none is waited on.
TEST_P(SpecialFileTest, IsRefusedOrLoadedWithinTwoSeconds) {
  const std::string source = GetParam().make(folder);
  const Outcome outcome =
      RunRenderer(RenderArgs(source, folder.path() / "out"), std::chrono::seconds(2), 0, folder.path());
  if (GetParam().refusal == nullptr) {
    ASSERT_TRUE(outcome.ended) << "did not end in time";
    EXPECT_EQ(outcome.status, 0);
    EXPECT_TRUE(outcome.errorLines.empty()) << outcome.errorLines.front();
  } else {
    EXPECT_TRUE(RefusedInOneLine(outcome, GetParam().refusal));
  }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, SpecialFileTest,
    ::testing::Values(SpecialFile{"FifoWithoutWriter",
                                  [](const TempFolder& f) {
                                    ::mkfifo(f.File("pipe.png").c_str(), 0600);
                                    return f.File("pipe.png");
                                  },
                                  "Not a file but a named pipe"},
                      SpecialFile{"Device", [](const TempFolder&) { return std::string("/dev/zero"); },
                                  "Not a file but a character device"},
                      SpecialFile{"Folder",
                                  [](const TempFolder& f) {
                                    fs::create_directory(f.path() / "folder.png");
                                    return f.File("folder.png");
                                  },
                                  "Not a file but a folder"},
                      SpecialFile{"SymlinkLoop",
                                  [](const TempFolder& f) {
                                    fs::create_symlink(f.path() / "b.png", f.path() / "a.png");
                                    fs::create_symlink(f.path() / "a.png", f.path() / "b.png");
                                    return f.File("a.png");
                                  },
                                  "symbolic links form a loop"},
                      SpecialFile{"NameNotUtf8",
                                  [](const TempFolder& f) {
                                    testing::WriteBytes(f.File("latin\xE9.png"), PngBytes(40, 20));
                                    return f.File("latin\xE9.png");
                                  },
                                  nullptr},
                      SpecialFile{"NameWithNewline",
                                  [](const TempFolder& f) {
                                    testing::WriteBytes(f.File("two\nlines.png"), "no picture here");
                                    return f.File("two\nlines.png");
                                  },
                                  "two\\nlines.png"}),
    [](const ::testing::TestParamInfo<SpecialFile>& info) { return std::string(info.param.name); });

// --- Tiny bombs ---------------------------------------------------------------

std::string Gzip(const std::string& text) {
  z_stream stream{};
  deflateInit2(&stream, Z_BEST_COMPRESSION, Z_DEFLATED, 16 + MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
  std::string out(deflateBound(&stream, text.size()), '\0');
  stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(text.data()));
  stream.avail_in = static_cast<uInt>(text.size());
  stream.next_out = reinterpret_cast<Bytef*>(out.data());
  stream.avail_out = static_cast<uInt>(out.size());
  deflate(&stream, Z_FINISH);
  out.resize(stream.total_out);
  deflateEnd(&stream);
  return out;
}

const char kSvgHead[] =
    "<svg xmlns='http://www.w3.org/2000/svg' xmlns:xlink='http://www.w3.org/1999/xlink' width='800' "
    "height='400'>";

// Text that inflates past the drawing bound, named .svg.
std::string InflatingDrawing() { return Gzip(kSvgHead + std::string(std::size_t{17} << 20, ' ') + "</svg>"); }

// An entity of 4000 letters referred to 5000 times: 20 MB of text.
std::string EntityDrawing() {
  std::string svg = "<?xml version='1.0'?><!DOCTYPE svg [<!ENTITY e '" + std::string(4000, 'a') + "'>]>" +
                    kSvgHead + "<text>";
  for (int i = 0; i < 5000; ++i) svg += "&e;";
  return svg + "</text></svg>";
}

// Three levels of a thousand <use> references each: 10^9 rectangles.
std::string FanningDrawing() {
  std::string svg = std::string(kSvgHead) + "<defs><rect id='l0' width='8' height='4'/>";
  for (int level = 1; level <= 3; ++level) {
    svg += "<g id='l" + std::to_string(level) + "'>";
    for (int k = 0; k < 1000; ++k) svg += "<use xlink:href='#l" + std::to_string(level - 1) + "'/>";
    svg += "</g>";
  }
  return svg + "</defs><use xlink:href='#l3'/></svg>";
}

// Twelve thousand translucent layers over the whole canvas.
std::string CostlyDrawing() {
  std::string svg = kSvgHead;
  for (int k = 0; k < 12000; ++k) svg += "<rect width='800' height='400' fill='red' fill-opacity='0.01'/>";
  return svg + "</svg>";
}

std::string ProgressiveJpeg() {
  QImage picture(64, 64, QImage::Format_RGB32);
  picture.fill(QColor(90, 140, 200));
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  QImageWriter writer(&buffer, "jpeg");
  writer.setProgressiveScanWrite(true);
  EXPECT_TRUE(writer.write(picture));
  return bytes.toStdString();
}

// A progressive JPEG whose first AC scan is repeated: libjpeg walks every
// block again for each copy.
std::string RepeatedScanJpeg() {
  const std::string jpeg = ProgressiveJpeg();
  // Scans run from their marker to the next marker that is not a stuffed
  // zero or a restart.
  std::size_t at = jpeg.find("\xFF\xDA");
  while (at != std::string::npos) {
    const std::size_t header =
        (static_cast<unsigned char>(jpeg[at + 2]) << 8) | static_cast<unsigned char>(jpeg[at + 3]);
    const int components = static_cast<unsigned char>(jpeg[at + 4]);
    const bool ac = jpeg[at + 5 + 2 * components] != 0;  // the spectral start
    std::size_t end = at + 2 + header;
    const auto byte = [&jpeg](std::size_t i) { return static_cast<unsigned char>(jpeg[i]); };
    while (!(byte(end) == 0xFF && byte(end + 1) != 0 && (byte(end + 1) & 0xF8) != 0xD0)) ++end;
    if (ac) {
      std::string repeated;
      for (int k = 0; k < 200; ++k) repeated += jpeg.substr(at, end - at);
      return jpeg.substr(0, end) + repeated + jpeg.substr(end);
    }
    at = jpeg.find("\xFF\xDA", end);
  }
  ADD_FAILURE() << "no AC scan";
  return jpeg;
}

std::string LittleEndian(std::uint32_t value, int bytes) {
  std::string out;
  for (int k = 0; k < bytes; ++k) out += static_cast<char>((value >> (8 * k)) & 0xFF);
  return out;
}

// A run-length BMP of 16384 x 16384 whose data ends the picture at once.
std::string RunLengthBmp(int bits) {
  const int colours = 1 << bits;
  const std::uint32_t offset = 14 + 40 + 4 * colours;
  return "BM" + LittleEndian(offset + 2, 4) + LittleEndian(0, 4) + LittleEndian(offset, 4) +
         LittleEndian(40, 4) + LittleEndian(16384, 4) + LittleEndian(16384, 4) + LittleEndian(1, 2) +
         LittleEndian(bits, 2) + LittleEndian(bits == 8 ? 1 : 2, 4) + LittleEndian(2, 4) +
         std::string(8, '\0') + LittleEndian(colours, 4) + LittleEndian(0, 4) +
         std::string(4 * colours, '\0') + std::string("\0\1", 2);
}

std::string BigEndian(std::uint32_t value) {
  return {static_cast<char>(value >> 24), static_cast<char>(value >> 16), static_cast<char>(value >> 8),
          static_cast<char>(value)};
}

std::string PngChunk(const std::string& type, const std::string& data) {
  const std::string body = type + data;
  const auto crc = crc32(0, reinterpret_cast<const Bytef*>(body.data()), static_cast<uInt>(body.size()));
  return BigEndian(static_cast<std::uint32_t>(data.size())) + body +
         BigEndian(static_cast<std::uint32_t>(crc));
}

// An animation header of 16384 x 16384 and no frame.
std::string Mng() {
  return "\x8AMNG\r\n\x1A\n" +
         PngChunk("MHDR",
                  BigEndian(16384) + BigEndian(16384) + BigEndian(1) + std::string(12, '\0') + BigEndian(1)) +
         PngChunk("MEND", "");
}

// A 16000 x 16000 screen around a frame of two pixels.
std::string HugeScreenGif() {
  const unsigned char gif[] = {'G', 'I', 'F', '8', '9', 'a', 0x80, 0x3E, 0x80, 0x3E, 0x80, 0,
                               0,   200, 30,  60,  10,  20,  30,   0x2C, 0,    0,    0,    0,
                               2,   0,   1,   0,   0,   2,   2,    0x44, 0x0A, 0,    0x3B};
  return std::string(reinterpret_cast<const char*>(gif), sizeof gif);
}

// A 16000 x 16000 grey TIFF whose one strip is four bytes.
std::string TinyTiff() {
  std::string tiff = "II*" + std::string(1, '\0') + LittleEndian(8, 4) + LittleEndian(8, 2);
  const auto entry = [&tiff](int tag, int type, std::uint32_t value) {
    tiff += LittleEndian(tag, 2) + LittleEndian(type, 2) + LittleEndian(1, 4) + LittleEndian(value, 4);
  };
  entry(256, 4, 16000);  // width
  entry(257, 4, 16000);  // height
  entry(258, 3, 8);      // bits per sample
  entry(259, 3, 1);      // no compression
  entry(262, 3, 1);      // black is zero
  entry(273, 4, 8 + 2 + 8 * 12 + 4);
  entry(278, 4, 16000);  // rows per strip
  entry(279, 4, 4);      // strip bytes
  return tiff + LittleEndian(0, 4) + std::string(4, '\x80');
}

// A TIFF whose one strip is a progressive JPEG, which libtiff would hand to
// libjpeg past the JPEG check.
std::string ProgressiveJpegTiff() {
  const std::string jpeg = ProgressiveJpeg();
  std::string tiff = "II*" + std::string(1, '\0') + LittleEndian(8, 4) + LittleEndian(8, 2);
  const auto entry = [&tiff](int tag, int type, std::uint32_t value) {
    tiff += LittleEndian(tag, 2) + LittleEndian(type, 2) + LittleEndian(1, 4) + LittleEndian(value, 4);
  };
  entry(256, 4, 64);  // width
  entry(257, 4, 64);  // height
  entry(258, 3, 8);   // bits per sample
  entry(259, 3, 7);   // JPEG
  entry(262, 3, 6);   // YCbCr
  entry(273, 4, 8 + 2 + 8 * 12 + 4);
  entry(278, 4, 64);  // rows per strip
  entry(279, 4, static_cast<std::uint32_t>(jpeg.size()));
  return tiff + LittleEndian(0, 4) + jpeg;
}

// A 16000 x 16000 PNG whose image data inflates to a few of its rows: the
// check of its length refuses it before libpng reserves any row.
std::string TinyPng() {
  const std::string rows(100000, '\0');
  uLongf size = compressBound(static_cast<uLong>(rows.size()));
  std::string data(size, '\0');
  compress2(reinterpret_cast<Bytef*>(data.data()), &size, reinterpret_cast<const Bytef*>(rows.data()),
            static_cast<uLong>(rows.size()), 9);
  data.resize(size);
  const std::string header = BigEndian(16000) + BigEndian(16000) + std::string("\x08\x02\0\0\0", 5);
  return std::string("\x89PNG\r\n\x1a\n") + PngChunk("IHDR", header) + PngChunk("IDAT", data) +
         PngChunk("IEND", "");
}

// A lossless WebP header of 16383 x 16383 and a few bytes.
std::string TinyWebp() {
  const std::string data = "\x2F" + LittleEndian(16382 | 16382u << 14, 4) + std::string(8, '\0');
  const std::string chunk = "VP8L" + LittleEndian(static_cast<std::uint32_t>(data.size()), 4) + data;
  return "RIFF" + LittleEndian(static_cast<std::uint32_t>(4 + chunk.size()), 4) + "WEBP" + chunk;
}

// A picture whose image data is damaged: libpng says so on stderr by itself.
std::string DamagedPng() {
  std::string png = PngBytes(64, 64);
  png[png.find("IDAT") + 14] ^= 0x55;
  return png;
}

struct Bomb {
  const char* name;
  const char* file;
  std::function<std::string()> bytes;
  const char* refusal;
};
void PrintTo(const Bomb& bomb, std::ostream* out) { *out << bomb.name; }

class BombTest : public ::testing::TestWithParam<Bomb> {
 protected:
  TempFolder folder;
};

// Each is refused within a second, the renderer never holding more than
// 200 MB, with one line that says why.
TEST_P(BombTest, IsRefusedWithinASecondAnd200Megabytes) {
  constexpr long kMaxKb = 200 * 1024;
  const std::string path = folder.File(GetParam().file);
  testing::WriteBytes(path, GetParam().bytes());
  const Outcome outcome = RunRenderer(RenderArgs(path, folder.path() / "out"), std::chrono::seconds(1),
                                      kSanitized ? 0 : rlim_t{kMaxKb} * 1024, folder.path());
  EXPECT_TRUE(RefusedInOneLine(outcome, GetParam().refusal));
  if (!kSanitized) {
    EXPECT_LE(outcome.peakKb, kMaxKb);
  }
  EXPECT_FALSE(fs::exists(folder.path() / "out")) << "something was written";
}

INSTANTIATE_TEST_SUITE_P(
    Files, BombTest,
    ::testing::Values(Bomb{"GzipTextNamedSvg", "bomb.svg", InflatingDrawing, "MB of text once inflated"},
                      Bomb{"EntityExpansion", "entities.svg", EntityDrawing, "MB of text"},
                      Bomb{"UseFanOut", "uses.svg", FanningDrawing, "references draw more than"},
                      Bomb{"CostlyPainting", "layers.svg", CostlyDrawing, "too costly to draw"},
                      Bomb{"RepeatedJpegScans", "scans.jpg", RepeatedScanJpeg, "more scans than"},
                      Bomb{"Rle4Bmp", "rle4.bmp", [] { return RunLengthBmp(4); }, "too short for the size"},
                      Bomb{"Rle8Bmp", "rle8.bmp", [] { return RunLengthBmp(8); }, "too short for the size"},
                      Bomb{"Mng", "blank.mng", Mng, "Not a picture in a known format"},
                      Bomb{"HugeScreenGif", "screen.gif", HugeScreenGif, "too short for the size"},
                      Bomb{"TinyTiff", "strip.tif", TinyTiff, "too short for the size"},
                      Bomb{"ProgressiveJpegInTiff", "jpeg.tif", ProgressiveJpegTiff, "inside a TIFF"},
                      Bomb{"TinyWebp", "flat.webp", TinyWebp, "too short for the size"},
                      Bomb{"TinyPng", "rows.png", TinyPng, "too short for the size"},
                      // Not a bomb, but libpng's own words must join the one line too.
                      Bomb{"DamagedPng", "damaged.png", DamagedPng, "(libpng error: "}),
    [](const ::testing::TestParamInfo<Bomb>& info) { return std::string(info.param.name); });

// --- Stop signals -------------------------------------------------------------

struct StopMoment {
  const char* name;
  std::vector<std::string> args;    // besides --out
  std::chrono::milliseconds after;  // when the signal is sent
};
void PrintTo(const StopMoment& moment, std::ostream* out) { *out << moment.name; }

class StopTest : public ::testing::TestWithParam<StopMoment> {
 protected:
  TempFolder folder;
};

// SIGTERM ends the renderer within a second whatever it is doing, with 143.
// A picture that was finished within the grace for pictures in work is
// kept whole; when none is left, a line says why.
TEST_P(StopTest, EndsWithinASecondLeavingNoPicture) {
  std::vector<std::string> args = GetParam().args;
  const std::string source = folder.File("source.png");
  testing::WriteBytes(source, PngBytes(2000, 1500));
  std::replace(args.begin(), args.end(), std::string("SOURCE"), source);
  const fs::path out = folder.path() / "out";
  args.insert(args.end(), {"--quiet", "--out", out.string()});
  // The watchdog starts once the signal is sent.
  const Outcome outcome =
      RunRenderer(args, std::chrono::milliseconds(1500), 0, folder.path(), [&](pid_t child) {
        std::this_thread::sleep_for(GetParam().after * kSlowdown);
        ::kill(child, SIGTERM);
      });
  ASSERT_TRUE(outcome.ended) << "still running 1.5 s after the signal";
  EXPECT_EQ(outcome.status, 143);
  int left = 0;
  std::error_code ignored;
  for (const auto& entry : fs::directory_iterator(out, ignored)) {
    ++left;
    const std::string bytes = testing::ReadBytes(entry.path().string());
    EXPECT_TRUE(bytes.size() > 12 && bytes.compare(bytes.size() - 8, 4, "IEND") == 0)
        << "left unfinished: " << entry.path();
  }
  if (left == 0) {
    EXPECT_FALSE(outcome.errorLines.empty()) << "nothing painted and nothing said";
  }
}

// Each copy is read, hashed, decoded and fitted again: several seconds in all.
std::vector<std::string> ManySources() {
  std::vector<std::string> args = {"--size", "800x400", "--no-effects"};
  for (int k = 0; k < 200; ++k) args.insert(args.end(), {"--source", "SOURCE"});
  return args;
}

INSTANTIATE_TEST_SUITE_P(
    Moments, StopTest,
    ::testing::Values(StopMoment{"WhileSourcesLoad", ManySources(), std::chrono::milliseconds(300)},
                      StopMoment{"WhileALargePictureIsPainted",
                                 {"--size", "9999x9999", "--effects", "--jobs", "1", "--count", "3"},
                                 std::chrono::milliseconds(600)}),
    [](const ::testing::TestParamInfo<StopMoment>& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace pictovance
