// The renderer run as a process, as a user or a script runs it: its exit
// status, what it prints and the files it leaves.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "canvas/recipe.h"
#include "imaging/image.h"
#include "tests/canvas/test_files.h"
#include "tests/full_disk.h"

extern char** environ;

namespace pictovance {
namespace {

namespace fs = std::filesystem;
using testing::ReadBytes;

::testing::AssertionResult SamePixels(const std::filesystem::path& a, const std::filesystem::path& b) {
  pictovance::Image first;
  pictovance::Image second;
  first.LoadBitmap(a.string());
  second.LoadBitmap(b.string());
  return testing::PixelsMatch(first, second, 0, 0);
}
using testing::TempFolder;

std::vector<std::string> Lines(const fs::path& file) {
  std::ifstream in(file);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// A running renderer with its stdout and stderr going to files.
class Renderer {
 public:
  // extraEnvironment: "NAME=value" entries added to this process's own.
  Renderer(std::vector<std::string> args, const fs::path& logs, std::vector<std::string> extraEnvironment = {})
      : m_out(logs / "stdout"), m_err(logs / "stderr") {
    args.insert(args.begin(), PV_RENDER);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::vector<char*> envp;
    for (char** entry = environ; *entry != nullptr; ++entry) envp.push_back(*entry);
    for (std::string& entry : extraEnvironment) envp.push_back(entry.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, m_out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, m_err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (posix_spawn(&m_pid, PV_RENDER, &actions, nullptr, argv.data(), envp.data()) != 0) m_pid = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Renderer() {
    if (m_pid > 0) {
      ::kill(m_pid, SIGKILL);
      ::waitpid(m_pid, nullptr, 0);
    }
  }

  bool Started() const { return m_pid > 0; }
  void Signal(int signal) const { ::kill(m_pid, signal); }

  // The exit status, or -1 when the process was killed by a signal or did
  // not end within a minute.
  int Wait() {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    int status = 0;
    while (::waitpid(m_pid, &status, WNOHANG) == 0) {
      if (std::chrono::steady_clock::now() > deadline) return -1;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  static constexpr int kRunning = -2;
  // The exit status once the process has ended (-1 when killed by a
  // signal), kRunning before.
  int Poll() {
    int status = 0;
    if (::waitpid(m_pid, &status, WNOHANG) == 0) return kRunning;
    m_pid = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // Waits (a minute at most) until stdout holds count lines.
  bool WaitForLines(std::size_t count) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(1);
    while (Lines(m_out).size() < count) {
      if (std::chrono::steady_clock::now() > deadline) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
  }

  std::vector<std::string> Paths() const { return Lines(m_out); }
  std::string Errors() const { return ReadBytes(m_err.string()); }

 private:
  fs::path m_out;
  fs::path m_err;
  pid_t m_pid = -1;
};

// The names of the printed paths, sorted as a folder listing is.
std::vector<std::string> SortedNames(const std::vector<std::string>& paths) {
  std::vector<std::string> names;
  for (const auto& path : paths) names.push_back(fs::path(path).filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

// Runs the renderer to its end into folder out; returns the printed paths
// after checking that it succeeded and that they are exactly out's files.
std::vector<std::string> RenderInto(std::vector<std::string> args, const fs::path& out,
                                    const fs::path& logs) {
  args.insert(args.end(), {"--out", out.string()});
  Renderer renderer(args, logs);
  EXPECT_TRUE(renderer.Started());
  EXPECT_EQ(renderer.Wait(), 0) << renderer.Errors();
  const std::vector<std::string> paths = renderer.Paths();
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(out)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(SortedNames(paths), names);
  return paths;
}

class SameRunTest : public ::testing::TestWithParam<const char*> {
 protected:
  TempFolder folder;
};

// One seed paints the same pictures, in the same printed order, on one
// thread, on more threads than processors, and split in two runs with
// --first, with the finishing pass, from a palette or from a shared source.
TEST_P(SameRunTest, AnyJobsAndAnySplitPaintTheSamePictures) {
  std::vector<std::string> common = {"--seed", "11", "--size", "120x60"};
  if (std::string(GetParam()) == "source") {
    common.push_back("--source");
    common.push_back(testing::WritePattern(folder.File("source.png"), 150, 70, testing::kPng));
  }
  const auto with = [&](std::vector<std::string> extra) {
    std::vector<std::string> args = common;
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
  };
  constexpr int kCount = 9;
  const auto one = RenderInto(with({"--count", "9", "--jobs", "1"}), folder.path() / "one", folder.path());
  const auto three =
      RenderInto(with({"--count", "9", "--jobs", "3"}), folder.path() / "three", folder.path());
  auto split = RenderInto(with({"--count", "4", "--jobs", "2"}), folder.path() / "half0", folder.path());
  const auto rest = RenderInto(with({"--first", "4", "--count", "5", "--jobs", "2"}), folder.path() / "half1",
                               folder.path());
  split.insert(split.end(), rest.begin(), rest.end());

  ASSERT_EQ(one.size(), kCount);
  ASSERT_EQ(three.size(), kCount);
  ASSERT_EQ(split.size(), kCount);
  for (int k = 0; k < kCount; ++k) {
    SCOPED_TRACE("picture " + std::to_string(k));
    // Files differ in their creation time only: compare what was painted.
    EXPECT_TRUE(SamePixels(one[k], three[k]));
    EXPECT_TRUE(SamePixels(one[k], split[k]));
    if (k > 0) {
      EXPECT_FALSE(SamePixels(one[k - 1], one[k])) << "neighbouring pictures are alike";
    }
  }
}

// A picture big enough to be painted in bands of rows, and its finishing
// pass in strips, comes out the same with one job, which gives it every
// processor, as with two, which share them (one thread each on two).
TEST_P(SameRunTest, BigPicturesPaintTheSameOnAnyNumberOfThreads) {
  std::vector<std::string> args = {"--seed", "3", "--size", "2100x2000", "--count", "2", "--effects"};
  if (std::string(GetParam()) == "source") {
    args.push_back("--source");
    args.push_back(testing::WritePattern(folder.File("source.png"), 900, 700, testing::kPng));
  }
  std::vector<std::string> oneJob = args, twoJobs = args;
  oneJob.insert(oneJob.end(), {"--jobs", "1"});
  twoJobs.insert(twoJobs.end(), {"--jobs", "2"});
  const auto wide = RenderInto(oneJob, folder.path() / "one", folder.path());
  const auto narrow = RenderInto(twoJobs, folder.path() / "two", folder.path());
  ASSERT_EQ(wide.size(), 2u);
  ASSERT_EQ(narrow.size(), 2u);
  for (std::size_t k = 0; k < 2; ++k) EXPECT_TRUE(SamePixels(wide[k], narrow[k])) << "picture " << k;
}

INSTANTIATE_TEST_SUITE_P(Modes, SameRunTest, ::testing::Values("palette", "source"));

struct StopCase {
  int signal;
  int status;
};
std::ostream& operator<<(std::ostream& out, const StopCase& c) { return out << ::strsignal(c.signal); }

class InterruptTest : public ::testing::TestWithParam<StopCase> {
 protected:
  TempFolder folder;
};

// A stopped batch leaves complete pictures only, each printed, and says how
// many it wrote.
TEST_P(InterruptTest, LeavesOnlyCompletePictures) {
  constexpr int kCount = 100000;
  const fs::path out = folder.path() / "out";
  Renderer renderer({"--size", "640x320", "--count", std::to_string(kCount), "--jobs", "2", "--progress",
                     "--out", out.string()},
                    folder.path());
  ASSERT_TRUE(renderer.Started());
  ASSERT_TRUE(renderer.WaitForLines(3)) << renderer.Errors();
  renderer.Signal(GetParam().signal);
  EXPECT_EQ(renderer.Wait(), GetParam().status) << renderer.Errors();

  const std::vector<std::string> paths = renderer.Paths();
  std::vector<std::string> names;
  for (const auto& entry : fs::directory_iterator(out)) names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  EXPECT_EQ(names, SortedNames(paths)) << "a file that was not printed stayed";
  for (const auto& path : paths) {
    const std::string bytes = ReadBytes(path);
    // A PNG file is complete when it ends with its IEND chunk.
    ASSERT_GT(bytes.size(), 12u) << path;
    EXPECT_EQ(bytes.substr(bytes.size() - 12), std::string("\0\0\0\0IEND\xAE\x42\x60\x82", 12)) << path;
  }
  Image last;
  last.LoadBitmap(paths.back());
  EXPECT_EQ(last.Width(), 640);
  EXPECT_NE(renderer.Errors().find("interrupted: " + std::to_string(paths.size()) + " of " +
                                   std::to_string(kCount) + " pictures written"),
            std::string::npos)
      << renderer.Errors();
}

INSTANTIATE_TEST_SUITE_P(Signals, InterruptTest,
                         ::testing::Values(StopCase{SIGINT, 130}, StopCase{SIGTERM, 143}));

// What a folder's watcher (a file manager, a sync client, a collector of
// --first runs) can see: a .png that is empty or lacks its end chunk, or any
// other entry. Names in whole were found complete before; a complete file
// stays so, and is not read again.
std::string IncompleteEntry(const fs::path& folder, std::set<std::string>& whole) {
  std::error_code ec;
  for (const auto& entry : fs::directory_iterator(folder, ec)) {
    const std::string name = entry.path().filename().string();
    if (whole.contains(name)) continue;
    if (!name.ends_with(".png") || name.starts_with(".")) return name + " (not a picture's name)";
    const std::string bytes = ReadBytes(entry.path().string());
    // A file published between the listing and the read is still whole.
    if (bytes.size() < 12 || bytes.substr(bytes.size() - 12) != std::string("\0\0\0\0IEND\xAE\x42\x60\x82", 12))
      return name + " (" + std::to_string(bytes.size()) + " bytes, no IEND at its end)";
    whole.insert(name);
  }
  return "";
}

// The folder is watched throughout a run: a name shows only a complete
// picture, from the moment it appears.
TEST(RenderPublishing, AWatcherNeverSeesAnIncompletePicture) {
  TempFolder folder;
  const fs::path out = folder.path() / "out";
  fs::create_directories(out);
  Renderer renderer({"--size", "1200x900", "--count", "24", "--jobs", "2", "--seed", "5", "--out", out.string()},
                    folder.path());
  ASSERT_TRUE(renderer.Started());
  int polls = 0;
  int status = -1;
  std::set<std::string> whole;
  while ((status = renderer.Poll()) == Renderer::kRunning) {
    const std::string bad = IncompleteEntry(out, whole);
    ASSERT_EQ(bad, "") << "seen while writing, after " << polls << " looks";
    ++polls;
  }
  EXPECT_EQ(status, 0) << renderer.Errors();
  EXPECT_EQ(IncompleteEntry(out, whole), "");
  EXPECT_EQ(whole.size(), 24u);
  EXPECT_GT(polls, 24) << "the folder was hardly watched";
}

// Killed at random moments with SIGKILL (no handler runs), one run after
// another into one folder: only complete pictures are ever left.
TEST(RenderPublishing, KillNineLeavesOnlyCompletePictures) {
  TempFolder folder;
  const fs::path out = folder.path() / "out";
  std::mt19937 moments(std::random_device{}());
  std::string delays;
  for (int round = 0; round < 6; ++round) {
    const int delay = std::uniform_int_distribution<int>(30, 600)(moments);
    delays += std::to_string(delay) + " ms ";
    Renderer renderer({"--size", "1000x700", "--count", "1000", "--jobs", "2", "--out", out.string()},
                      folder.path());
    ASSERT_TRUE(renderer.Started());
    std::this_thread::sleep_for(std::chrono::milliseconds(delay));
    renderer.Signal(SIGKILL);
    EXPECT_EQ(renderer.Wait(), -1);
  }
  SCOPED_TRACE("killed after " + delays);
  std::set<std::string> whole;
  EXPECT_EQ(IncompleteEntry(out, whole), "");
  for (const auto& entry : fs::directory_iterator(out)) {
    Image picture;
    ASSERT_NO_THROW(picture.LoadBitmap(entry.path().string())) << entry.path();
    EXPECT_EQ(picture.Width(), 1000);
  }
}

// The manual's EXIT STATUS section, run: each row a way to reach a status
// the manual lists.
struct ExitCase {
  std::string name;
  int status;
  std::vector<std::string> args;  // {picture}: a saved picture; {tampered}: one whose recipe asks 10000x1;
                                  // {noise}: a 256 x 256 picture of noise, about 200 KB as PNG
  int signal = 0;                 // sent once the first path is printed
  bool fullDisk = false;          // --out a disk that fills up
  bool failingSync = false;       // every flush of a picture to the disk fails
};
std::ostream& operator<<(std::ostream& out, const ExitCase& c) { return out << c.name; }

// The statuses the manual's EXIT STATUS section lists.
std::set<int> ManualStatuses() {
  std::ifstream manual(PV_MANUAL);
  std::set<int> statuses;
  bool inSection = false;
  for (std::string line; std::getline(manual, line);) {
    if (line.starts_with("# ")) inSection = line == "# EXIT STATUS";
    if (!inSection || !line.starts_with("*")) continue;
    std::istringstream items(line);
    for (std::string item; std::getline(items, item, ',');) {
      item.erase(std::remove_if(item.begin(), item.end(), [](char c) { return c == '*' || c == ' '; }), item.end());
      statuses.insert(std::stoi(item));
    }
  }
  return statuses;
}

std::vector<ExitCase> ExitCases() {
  std::vector<ExitCase> cases = {
      {"EveryPictureWritten", 0, {"--size", "32x16", "--count", "3"}},
      {"APictureCannotBeWritten", 1, {"--size", "120x90", "--count", "60"}, 0, true},
      // Copied from noise, larger than the whole disk: its write comes back short.
      {"APictureLargerThanTheDisk", 1, {"--source", "{noise}", "--size", "0x0", "--no-effects"}, 0, true},
      {"APictureCannotBeFlushed", 1, {"--size", "64x32", "--count", "2"}, 0, false, true},
      {"UnknownOption", 2, {"--colour", "red"}},
      {"SizeBeyondItsRange", 2, {"--size", "10000x1"}},
      {"SourceMissing", 2, {"--source", "missing.png"}},
      {"FolderCannotTakeFiles", 2, {"--out", "/proc"}},
      {"AgainIntoAFolderThatCannotTakeFiles", 2, {"--again", "{picture}", "--out", "/proc"}},
      {"AgainWithARecipeSizeBeyondItsRange", 2, {"--again", "{tampered}"}},
      {"RecipeWithAnOptionItDoesNotUse", 2, {"--recipe", "{picture}", "--size", "9x9"}},
      {"Interrupted", 130, {"--size", "320x160", "--count", "100000"}, SIGINT},
      {"Terminated", 143, {"--size", "320x160", "--count", "100000"}, SIGTERM},
  };
  // Options --again has no use for are refused, not ignored.
  const std::vector<std::pair<std::string, std::vector<std::string>>> unused = {
      {"Effects", {"--effects"}},   {"NoEffects", {"--no-effects"}}, {"Jobs", {"--jobs", "2"}},
      {"Progress", {"--progress"}}, {"Quiet", {"--quiet"}},          {"Seed", {"--seed", "3"}},
      {"Count", {"--count", "2"}},  {"First", {"--first", "1"}}};
  for (const auto& [name, option] : unused) {
    std::vector<std::string> args = {"--again", "{picture}"};
    args.insert(args.end(), option.begin(), option.end());
    cases.push_back({"AgainWith" + name, 2, args});
  }
  return cases;
}

class ExitStatusTest : public ::testing::TestWithParam<ExitCase> {
 protected:
  TempFolder folder;
};

TEST(ExitStatusTable, CoversEveryStatusOfTheManual) {
  std::set<int> table;
  for (const ExitCase& c : ExitCases()) table.insert(c.status);
  EXPECT_EQ(table, ManualStatuses());
  EXPECT_FALSE(table.empty());
}

TEST_P(ExitStatusTest, IsWhatTheManualSays) {
  ExitCase c = GetParam();
  std::optional<testing::FullDisk> disk;
  fs::path out = folder.path() / "out";
  if (c.fullDisk) {
    disk.emplace(testing::FullDisk::Start::kEmpty);
    if (!disk->Mounted()) GTEST_SKIP() << disk->Reason();
    out = disk->path();
  }
  for (std::string& arg : c.args) {
    if (arg == "{picture}") {
      arg = RenderInto({"--size", "24x12", "--seed", "1", "--no-effects"}, folder.path() / "saved", folder.path())
                .at(0);
    } else if (arg == "{tampered}") {
      Recipe recipe;
      recipe.width = 10000;
      recipe.height = 1;
      Image picture;
      picture.CreateBitmap(8, 8, 0);
      picture.SetTexts(RecipeTexts(recipe));
      arg = folder.File("tampered.png");
      picture.SaveBitmap(arg);
    } else if (arg == "{noise}") {
      Image noise;
      noise.CreateBitmap(256, 256, 0);
      std::mt19937 bits(7);
      for (int y = 0; y < 256; ++y) {
        for (int x = 0; x < 256; ++x) {
          noise.SetLineColor(static_cast<Colour>(bits() & 0xFFFFFF));
          noise.DrawPoint(x, y);
        }
      }
      arg = folder.File("noise.png");
      noise.SaveBitmap(arg);
    }
  }
  if (std::find(c.args.begin(), c.args.end(), "--out") == c.args.end()) c.args.insert(c.args.end(), {"--out", out.string()});
  std::vector<std::string> environment;
  if (c.failingSync) environment.push_back(std::string("LD_PRELOAD=") + PV_FAILING_SYNC);
  Renderer renderer(c.args, folder.path(), environment);
  ASSERT_TRUE(renderer.Started());
  if (c.signal != 0) {
    ASSERT_TRUE(renderer.WaitForLines(1)) << renderer.Errors();
    renderer.Signal(c.signal);
  }
  EXPECT_EQ(renderer.Wait(), c.status) << renderer.Errors();
  if (c.status == 2) {
    const std::string errors = renderer.Errors();
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_TRUE(renderer.Paths().empty());
    EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out)) << "written although refused";
  }
  if (c.status == 1) {
    EXPECT_NE(renderer.Errors(), "");
    // Whatever failed, what is left is only complete pictures.
    std::vector<std::string> left;
    for (const auto& entry : fs::directory_iterator(out)) {
      if (entry.path().filename() == "filler") continue;
      Image picture;
      EXPECT_NO_THROW(picture.LoadBitmap(entry.path().string())) << entry.path() << " is not a whole picture";
      left.push_back(entry.path().filename().string());
    }
    std::sort(left.begin(), left.end());
    EXPECT_EQ(left, SortedNames(renderer.Paths()));
  }
}

INSTANTIATE_TEST_SUITE_P(Manual, ExitStatusTest, ::testing::ValuesIn(ExitCases()),
                         [](const auto& info) { return info.param.name; });

// Every option that takes a number, at each end of its range and one step
// beyond: at the limit a picture is painted, beyond it the renderer refuses
// with one line and status 2 before anything is written.
struct LimitCase {
  std::string name;
  std::vector<std::string> args;  // a small size and --count 1 (but to --wallpaper) are added unless given
  bool accepted;
};
std::ostream& operator<<(std::ostream& out, const LimitCase& c) { return out << c.name; }

class OptionLimitTest : public ::testing::TestWithParam<LimitCase> {
 protected:
  TempFolder folder;
};

TEST_P(OptionLimitTest, IsTakenAtTheLimitAndRefusedBeyond) {
  std::vector<std::string> args = GetParam().args;
  const auto given = [&args](const char* option) { return std::find(args.begin(), args.end(), option) != args.end(); };
  if (!given("--count") && !given("--wallpaper")) args.insert(args.end(), {"--count", "1"});
  if (!given("--size")) args.insert(args.end(), {"--size", "8x4"});
  const fs::path out = folder.path() / "out";
  args.insert(args.end(), {"--no-effects", "--quiet", "--out", out.string()});
  Renderer renderer(args, folder.path());
  ASSERT_TRUE(renderer.Started());
  const int status = renderer.Wait();
  const std::string errors = renderer.Errors();
  if (GetParam().accepted) {
    EXPECT_EQ(status, 0) << errors;
    EXPECT_EQ(renderer.Paths().size(), 1u) << errors;
  } else {
    EXPECT_EQ(status, 2);
    EXPECT_EQ(std::count(errors.begin(), errors.end(), '\n'), 1) << errors;
    EXPECT_TRUE(renderer.Paths().empty());
    EXPECT_TRUE(!fs::exists(out) || fs::is_empty(out)) << "written although refused";
  }
}

INSTANTIATE_TEST_SUITE_P(
    Options, OptionLimitTest,
    ::testing::Values(LimitCase{"Size9999x2", {"--size", "9999x2"}, true},
                      LimitCase{"Size2x9999", {"--size", "2x9999"}, true},
                      LimitCase{"Size0x0", {"--size", "0x0"}, true},
                      LimitCase{"Size10000x2", {"--size", "10000x2"}, false},
                      LimitCase{"Size2x10000", {"--size", "2x10000"}, false},
                      LimitCase{"SizeMinus1x2", {"--size", "-1x2"}, false},
                      LimitCase{"Count1", {"--count", "1"}, true},
                      LimitCase{"Count0", {"--count", "0"}, false},
                      LimitCase{"CountMinus1", {"--count", "-1"}, false},
                      LimitCase{"First0", {"--first", "0"}, true},
                      LimitCase{"FirstMinus1", {"--first", "-1"}, false},
                      // The last index a run can reach, and one beyond it.
                      LimitCase{"FirstAtTheLastIndex", {"--first", "9223372036854775806"}, true},
                      LimitCase{"FirstBeyondTheLastIndex", {"--first", "9223372036854775807"}, false},
                      LimitCase{"Jobs1", {"--jobs", "1"}, true},
                      LimitCase{"Jobs1024", {"--jobs", "1024"}, true},
                      LimitCase{"Jobs0", {"--jobs", "0"}, false},
                      LimitCase{"Jobs1025", {"--jobs", "1025"}, false},
                      LimitCase{"Seed0", {"--seed", "0"}, true},
                      LimitCase{"SeedLargest", {"--seed", "18446744073709551615"}, true},
                      LimitCase{"SeedBeyond", {"--seed", "18446744073709551616"}, false},
                      LimitCase{"SeedMinus1", {"--seed", "-1"}, false},
                      LimitCase{"SeedWithATail", {"--seed", "12px"}, false},
                      LimitCase{"Keep0", {"--wallpaper", "--keep", "0"}, false}),
    [](const auto& info) { return info.param.name; });

}  // namespace
}  // namespace pictovance
