// The renderer as its users see it: its exit status, what it prints and the
// files it leaves.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "tests/full_disk.h"

namespace pictovance {
namespace {

namespace fs = std::filesystem;
using Disk = testing::FullDisk;

struct Outcome {
  int status;
  std::vector<std::string> printed;  // lines on standard output
  std::string errors;
};

std::string Slurp(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

Outcome Render(const std::string& arguments) {
  const fs::path log = fs::temp_directory_path() / ("pictovance-render-log-" + std::to_string(::getpid()));
  const std::string command =
      std::string(PV_RENDER) + " " + arguments + " >" + log.string() + ".out 2>" + log.string() + ".err";
  const int raw = std::system(command.c_str());
  Outcome run{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, {}, Slurp(log.string() + ".err")};
  std::istringstream out(Slurp(log.string() + ".out"));
  for (std::string line; std::getline(out, line);) run.printed.push_back(line);
  fs::remove(log.string() + ".out");
  fs::remove(log.string() + ".err");
  return run;
}

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
  return text;
}

class RenderFullDiskTest : public ::testing::TestWithParam<Disk::Start> {};

// Whether the disk is full from the start or fills up after some pictures:
// the renderer stops with status 1, names the cause, and every path it
// printed is a complete picture, with nothing else left behind.
TEST_P(RenderFullDiskTest, PrintsOnlyCompletePicturesAndFails) {
  Disk disk(GetParam());
  if (!disk.Mounted()) GTEST_SKIP() << disk.Reason();
  const Outcome run = Render("--size 120x90 --count 60 --seed 7 --no-effects --out " + disk.path().string());
  EXPECT_EQ(run.status, 1) << run.errors;
  EXPECT_NE(Lower(run.errors).find("no space left on device"), std::string::npos) << run.errors;
  std::vector<std::string> printed;
  for (const std::string& line : run.printed) {
    SCOPED_TRACE(line);
    Image picture;
    ASSERT_NO_THROW(picture.LoadBitmap(line));
    EXPECT_EQ(picture.Width(), 120);
    EXPECT_EQ(picture.Height(), 90);
    printed.push_back(fs::path(line).filename().string());
  }
  std::vector<std::string> left = disk.Others();
  std::sort(printed.begin(), printed.end());
  std::sort(left.begin(), left.end());
  EXPECT_EQ(left, printed);
  if (GetParam() == Disk::Start::kEmpty) {
    EXPECT_FALSE(printed.empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Disks, RenderFullDiskTest,
                         ::testing::Values(Disk::Start::kFull, Disk::Start::kEmpty),
                         [](const ::testing::TestParamInfo<Disk::Start>& info) {
                           return std::string(info.param == Disk::Start::kFull ? "FullFromTheStart"
                                                                               : "FillsUpOnTheWay");
                         });

}  // namespace
}  // namespace pictovance
