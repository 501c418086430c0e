// pictovance-render: paints pictures without a window, with the same driver
// and the same save naming as the program, and prints each file's path.
// This file reads the options and sets up the size and the sources; the
// batch itself runs in tools/render/batch.h.

#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <limits>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "app_info.h"
#include "canvas/size_fields.h"
#include "canvas/sources.h"
#include "canvas/whole_number.h"
#include "generator/form.h"
#include "generator/headless_form.h"
#include "imaging/heap.h"
#include "imaging/source_file.h"
#include "tools/render/again.h"
#include "tools/render/batch.h"
#include "tools/render/caught_stderr.h"
#include "tools/render/wallpaper.h"

namespace pv = pictovance;

namespace {

constexpr int kExitUsage = 2;
constexpr int kMaxSide = 9999;
constexpr int kMaxJobs = 1024;

const char kUsage[] =
    "Usage: pictovance-render [options]\n"
    "       pictovance-render --again FILE.png [--source FILE]... [--size WxH] [--out DIR]\n"
    "       pictovance-render --recipe FILE.png\n"
    "       pictovance-render --wallpaper [--size WxH] [--keep N] [options]\n"
    "Paints random abstract pictures and saves each as a PNG file named like\n"
    "the program's saved pictures; prints the path of every file it writes.\n"
    "\n"
    "Options:\n"
    "  --size WxH     canvas size, each side 0 to 9999 (default 800x400);\n"
    "                 a side of 0 paints the default 800 or 400, or with\n"
    "                 --source takes the smallest length among the sources\n"
    "  --source FILE  a picture to take colours from instead of a random\n"
    "                 palette; repeat it for several. With both sides of\n"
    "                 --size above 0 each source is fitted to that size;\n"
    "                 a file that cannot be read stops the renderer before\n"
    "                 anything is written\n"
    "  --seed N       seed of the run, 0 to 18446744073709551615 (default: the\n"
    "                 clock); picture I (from 0) is painted from its own seed,\n"
    "                 SplitMix64 output I of N, so the same seed and size paint\n"
    "                 the same pictures whatever the folder holds\n"
    "  --count N      number of pictures, 1 or more (default 1)\n"
    "  --first I      index of the first picture, 0 or more (default 0): runs\n"
    "                 with one seed and --first 0 --count 1000 and --first 1000\n"
    "                 --count 1000 paint the two halves of one run\n"
    "  --jobs N       threads that paint and save, 1 to 1024 (default: one per\n"
    "                 processor); the pictures are the same for any N, and\n"
    "                 fewer run when N jobs (about two canvases each) would\n"
    "                 not fit in half of the memory\n"
    "  --out DIR      folder to write into, created if missing (default: the\n"
    "                 current folder)\n"
    "  --effects      run the finishing pass on every picture (default)\n"
    "  --no-effects   paint bands and blocks only\n"
    "  --progress     show the progress bar and the summary line on stderr even\n"
    "                 when it is not a terminal\n"
    "  --quiet        show neither, not even on a terminal\n"
    "  --again FILE   paint the picture saved in FILE again, from the recipe\n"
    "                 every saved picture carries, under a new name; a picture\n"
    "                 painted from source pictures needs the same files, given\n"
    "                 with --source in any order. With --size the same seed is\n"
    "                 painted at that size, and the layout follows the size;\n"
    "                 the options it does not use are refused\n"
    "  --recipe FILE  print the recipe FILE carries\n"
    "  --wallpaper    paint one picture at the screen's size in pixels (--size is\n"
    "                 needed where no display can be reached), save it into the\n"
    "                 folder Wallpapers inside the pictures folder (or inside\n"
    "                 --out) and set it as the desktop's wallpaper; --count,\n"
    "                 --first, --jobs and --progress do not apply\n"
    "  --keep N       with --wallpaper, keep the N newest saved pictures in\n"
    "                 Wallpapers and remove the older ones, 1 or more\n"
    "                 (default 30); nothing else there is touched\n"
    "  --help         show this text\n"
    "  --version      print the version\n"
    "\n"
    "Paths are printed in picture order, each once its file is complete.\n"
    "Ctrl+C or SIGTERM stops between pictures: those being painted are\n"
    "finished when that takes less than a second, no partial file stays, and\n"
    "the exit status is 130 (143). While sources load, it ends at once.\n"
    "Sources are PNG, JPEG, BMP, GIF, TIFF, WebP or SVG files; only regular\n"
    "files are read, and an SVG is drawn without any file or URL it names.\n";

struct Options {
  int width = 800;
  int height = 400;
  std::vector<std::string> sources;
  std::optional<std::uint64_t> seed;
  long long count = 1;
  long long first = 0;
  int jobs = 0;  // 0: one per processor
  std::filesystem::path out = ".";
  bool effects = true;
  bool sizeGiven = false;
  std::optional<std::string> again;
  std::optional<std::string> recipe;
  bool wallpaper = false;
  std::optional<long long> keep;
  bool outGiven = false;
  bool progress = false;
  bool quiet = false;
  std::vector<std::string> given;  // the options on the command line, each once
};

class UsageError {
 public:
  explicit UsageError(std::string message) : m_message(std::move(message)) {}
  const std::string& message() const { return m_message; }

 private:
  std::string m_message;
};

void ParseSize(std::string_view text, Options& options) {
  const auto x = text.find_first_of("xX");
  const std::string bad =
      "--size wants WIDTHxHEIGHT with each side 0 to 9999, not \"" + std::string(text) + "\"";
  if (x == std::string_view::npos) throw UsageError(bad);
  const auto w = pv::ParseWhole<int>(text.substr(0, x));
  const auto h = pv::ParseWhole<int>(text.substr(x + 1));
  if (!w || !h || *w < 0 || *h < 0 || *w > kMaxSide || *h > kMaxSide) throw UsageError(bad);
  options.width = *w;
  options.height = *h;
}

Options ParseArguments(const std::vector<std::string_view>& args) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string_view arg = args[i];
    std::optional<std::string_view> inlineValue;
    if (const auto eq = arg.find('='); arg.starts_with("--") && eq != std::string_view::npos) {
      inlineValue = arg.substr(eq + 1);
      arg = arg.substr(0, eq);
    }
    if (std::find(options.given.begin(), options.given.end(), arg) == options.given.end())
      options.given.emplace_back(arg);
    const auto value = [&]() -> std::string_view {
      if (inlineValue) return *inlineValue;
      if (i + 1 >= args.size()) throw UsageError(std::string(arg) + " needs a value");
      return args[++i];
    };
    if (arg == "--size") {
      ParseSize(value(), options);
      options.sizeGiven = true;
    } else if (arg == "--seed") {
      const std::string_view text = value();
      const auto seed = pv::ParseWhole<std::uint64_t>(text);
      if (!seed) throw UsageError("--seed wants a whole number 0 or more, not \"" + std::string(text) + "\"");
      options.seed = *seed;
    } else if (arg == "--count") {
      const std::string_view text = value();
      const auto count = pv::ParseWhole<long long>(text);
      if (!count || *count < 1)
        throw UsageError("--count wants a whole number 1 or more, not \"" + std::string(text) + "\"");
      options.count = *count;
    } else if (arg == "--first") {
      const std::string_view text = value();
      const auto first = pv::ParseWhole<long long>(text);
      if (!first || *first < 0)
        throw UsageError("--first wants a whole number 0 or more, not \"" + std::string(text) + "\"");
      options.first = *first;
    } else if (arg == "--jobs") {
      const std::string_view text = value();
      const auto jobs = pv::ParseWhole<int>(text);
      if (!jobs || *jobs < 1 || *jobs > kMaxJobs) {
        throw UsageError("--jobs wants a whole number 1 to 1024, not \"" + std::string(text) + "\"");
      }
      options.jobs = *jobs;
    } else if (arg == "--progress" && !inlineValue) {
      options.progress = true;
    } else if (arg == "--quiet" && !inlineValue) {
      options.quiet = true;
    } else if (arg == "--source") {
      const std::string_view text = value();
      if (text.empty()) throw UsageError("--source wants a picture file");
      options.sources.emplace_back(text);
    } else if (arg == "--out") {
      const std::string_view text = value();
      if (text.empty()) throw UsageError("--out wants a folder");
      options.out = std::filesystem::path(std::string(text));
      options.outGiven = true;
    } else if (arg == "--again" || arg == "--recipe") {
      const std::string_view text = value();
      if (text.empty()) throw UsageError(std::string(arg) + " wants a PNG file");
      (arg == "--again" ? options.again : options.recipe) = std::string(text);
    } else if (arg == "--wallpaper" && !inlineValue) {
      options.wallpaper = true;
    } else if (arg == "--keep") {
      const std::string_view text = value();
      const auto keep = pv::ParseWhole<long long>(text);
      if (!keep || *keep < 1)
        throw UsageError("--keep wants a whole number 1 or more, not \"" + std::string(text) + "\"");
      options.keep = *keep;
    } else if (arg == "--effects" && !inlineValue) {
      options.effects = true;
    } else if (arg == "--no-effects" && !inlineValue) {
      options.effects = false;
    } else {
      throw UsageError("unknown argument \"" + std::string(args[i]) + "\" (see --help)");
    }
  }
  if (options.first > std::numeric_limits<long long>::max() - options.count) {
    throw UsageError("--first plus --count goes beyond the last picture index");
  }
  return options;
}

// A refusal with the first line a library wrote meanwhile, unless the
// refusal already quotes one.
std::string WithDetail(const std::string& line, const std::string& detail) {
  if (detail.empty() || line.empty() || line.back() == ')') return line;
  return line + " (" + detail + ")";
}

// The options given that a mode (--again, --recipe, --wallpaper) does not
// use; it takes only mode and those in uses.
std::string Unused(const Options& options, std::string_view mode, std::vector<std::string_view> uses) {
  uses.push_back(mode);
  std::vector<std::string> unused;
  for (const std::string& option : options.given) {
    if (std::find(uses.begin(), uses.end(), option) == uses.end()) unused.push_back(option);
  }
  std::string list;
  for (std::size_t k = 0; k < unused.size(); ++k) {
    list += (k == 0 ? "" : k + 1 == unused.size() ? " and " : ", ") + unused[k];
  }
  return list.empty() ? list : list + (unused.size() == 1 ? " does" : " do");
}

}  // namespace

int main(int argc, char** argv) {
  pv::render::CatchStopSignals();
  pv::KeepBitmapsInHeap();
  std::vector<std::string_view> args(argv + 1, argv + argc);
  for (const auto arg : args) {
    if (arg == "--help" || arg == "-h") {
      std::cout << kUsage;
      return 0;
    }
    if (arg == "--version") {
      std::cout << "pictovance-render " << pv::kProgramVersion << "\n";
      return 0;
    }
  }
  const auto usageError = [](const UsageError& error) {
    std::cerr << "pictovance-render: " << error.message() << "\n";
    return kExitUsage;
  };
  Options options;
  try {
    options = ParseArguments(args);
    // An option that would be ignored is refused, so nobody believes it
    // took effect.
    if (options.again) {
      const std::string unused = Unused(options, "--again", {"--source", "--size", "--out"});
      if (!unused.empty()) {
        throw UsageError("--again paints the one picture of its recipe, as the recipe says: " + unused +
                         " not apply");
      }
    } else if (options.recipe) {
      const std::string unused = Unused(options, "--recipe", {});
      if (!unused.empty()) throw UsageError("--recipe only prints the recipe: " + unused + " not apply");
    } else if (options.wallpaper) {
      const std::string unused =
          Unused(options, "--wallpaper",
                 {"--size", "--seed", "--source", "--out", "--effects", "--no-effects", "--quiet", "--keep"});
      if (!unused.empty())
        throw UsageError("--wallpaper paints and sets one picture: " + unused + " not apply");
    }
    if (options.keep && !options.wallpaper) throw UsageError("--keep goes with --wallpaper only");
    if (options.wallpaper) {
      std::string problem;
      const auto plan = pv::render::PlanWallpaper(
          options.sizeGiven ? std::optional(std::make_pair(options.width, options.height)) : std::nullopt,
          options.outGiven ? std::optional(options.out) : std::nullopt, problem);
      if (!plan) throw UsageError(problem);
      options.width = plan->width;
      options.height = plan->height;
      options.out = plan->folder;
    }
  } catch (const UsageError& error) {
    return usageError(error);
  }
  if (options.recipe) return pv::render::PrintRecipe(*options.recipe, std::cout, std::cerr);
  if (options.again) {
    pv::render::AgainRequest request{*options.again, options.sources, std::nullopt, options.out};
    if (options.sizeGiven) request.size = std::make_pair(options.width, options.height);
    std::ostringstream refusal;
    int status = 0;
    std::string chatter;
    {
      pv::render::CaughtStderr caught;
      status = pv::render::PaintAgain(request, std::cout, refusal);
      chatter = caught.Release();
    }
    std::string line = refusal.str();
    if (!line.empty() && line.back() == '\n') line.pop_back();
    if (!line.empty()) std::cerr << WithDetail(line, chatter) << "\n";
    return status;
  }

  pv::HeadlessForm form(options.effects);
  pv::FormState state;
  try {
    // The size and the sources as the window's Set and drops take them:
    // both sides above 0 fit every source to the size, a side of 0 lets
    // the sources decide it.
    pv::Set(state, form, std::to_string(options.width), std::to_string(options.height));
    pv::render::CaughtStderr caught;
    for (const std::string& source : options.sources) {
      std::string problem;
      if (pv::LoadSourcePicture(state, form, source, problem) != 0) {
        const std::string chatter = caught.Release();
        throw UsageError("cannot use the source \"" + pv::ReadableName(source) +
                         "\": " + WithDetail(problem, chatter));
      }
    }
    caught.Release();
    // Nothing has been written so far, so a stop signal ended the process
    // at once. A batch from here on stops between pictures; the one
    // wallpaper still ends at once, since a picture has no file under its
    // name until it is complete.
    if (!options.wallpaper) pv::render::StopBetweenPictures();
    if (const std::string problem = pv::render::PrepareOutFolder(options.out); !problem.empty()) {
      throw UsageError(problem);
    }
  } catch (const UsageError& error) {
    return usageError(error);
  }

  if (options.wallpaper) {
    const pv::render::WallpaperSettings wallpaper{
        options.seed ? *options.seed : pv::render::FreshSeed(), options.effects, options.out,
        static_cast<std::size_t>(options.keep.value_or(pv::render::kDefaultKeep)), options.quiet};
    return pv::render::PaintWallpaper(state, wallpaper, std::cout, std::cerr);
  }

  pv::render::BatchSettings batch;
  batch.seed = options.seed ? *options.seed : pv::render::FreshSeed();
  batch.first = options.first;
  batch.count = options.count;
  batch.jobs = options.jobs > 0 ? options.jobs : pv::render::DefaultJobs();
  batch.effects = options.effects;
  batch.out = options.out;
  batch.progress = !options.quiet && (options.progress || ::isatty(STDERR_FILENO) == 1);
  return pv::render::RunBatch(state, batch, std::cout);
}
