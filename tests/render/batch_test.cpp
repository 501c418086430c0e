#include "tools/render/batch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "tests/canvas/test_files.h"

namespace pictovance::render {
namespace {

constexpr std::uint64_t kGiB = std::uint64_t{1} << 30;
constexpr std::uint64_t k9999Square = std::uint64_t{9999} * 9999 * 4;  // about 381 MiB

struct FitCase {
  int jobs;
  std::uint64_t canvasBytes;
  std::uint64_t memoryBytes;
  int expected;
};
std::ostream& operator<<(std::ostream& out, const FitCase& c) {
  return out << c.jobs << " jobs of " << c.canvasBytes << " bytes in " << c.memoryBytes;
}

class JobsThatFitTest : public ::testing::TestWithParam<FitCase> {};

TEST_P(JobsThatFitTest, KeepsTheCanvasesWithinHalfOfTheMemory) {
  const FitCase& c = GetParam();
  EXPECT_EQ(JobsThatFit(c.jobs, c.canvasBytes, c.memoryBytes), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, JobsThatFitTest,
    ::testing::Values(FitCase{8, 800 * 400 * 4, 16 * kGiB, 8},  // small canvases: every job
                      FitCase{8, k9999Square, 4 * kGiB, 5},     // 2 GiB hold five 381 MiB canvases
                      FitCase{8, k9999Square, 2 * kGiB, 2},
                      FitCase{2, 512, 2048, 2},               // exactly half the memory still fits
                      FitCase{3, 512, 2047, 1},               // just under it does not
                      FitCase{4, k9999Square, 512 << 20, 1},  // never below one job
                      FitCase{4, k9999Square, 0, 4}));        // unknown memory keeps the jobs

// A machine seen through a fake root folder: the process's groups, the
// mounts, and the limit files, each a path under the root and its text.
struct GroupCase {
  const char* name;
  const char* cgroup;      // /proc/self/cgroup
  const char* mountinfo;   // /proc/self/mountinfo
  std::vector<std::pair<const char*, const char*>> files;
  std::uint64_t limit;     // 0: none
  const char* group;       // the group it comes from
};
std::ostream& operator<<(std::ostream& out, const GroupCase& c) { return out << c.name; }

class ControlGroupLimitTest : public ::testing::TestWithParam<GroupCase> {};

TEST_P(ControlGroupLimitTest, TakesTheSmallestLimitFromTheOwnGroupUp) {
  const GroupCase& c = GetParam();
  pictovance::testing::TempFolder root;
  const auto write = [&](const std::string& path, const std::string& text) {
    std::filesystem::create_directories((root.path() / path).parent_path());
    pictovance::testing::WriteBytes((root.path() / path).string(), text);
  };
  write("proc/self/cgroup", c.cgroup);
  write("proc/self/mountinfo", c.mountinfo);
  for (const auto& [path, text] : c.files) write(path, text);
  const auto limit = ControlGroupLimit(root.path());
  if (c.limit == 0) {
    EXPECT_FALSE(limit) << limit->what;
    return;
  }
  ASSERT_TRUE(limit);
  EXPECT_EQ(limit->bytes, c.limit);
  EXPECT_EQ(limit->what, std::string("the memory limit of control group ") + c.group);
}

constexpr char kV2Mount[] = "22 1 0:20 / /sys/fs/cgroup rw,nosuid - cgroup2 cgroup2 rw,nsdelegate\n";
constexpr char kV1Mounts[] =
    "30 22 0:27 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
    "31 30 0:28 / /sys/fs/cgroup/cpuset rw,relatime - cgroup cgroup rw,cpuset\n"
    "34 30 0:31 / /sys/fs/cgroup/memory,hugetlb rw,relatime shared:9 - cgroup cgroup rw,memory,hugetlb\n";

constexpr char kHybridMounts[] =
    "30 22 0:27 / /sys/fs/cgroup rw,relatime - tmpfs tmpfs rw,mode=755\n"
    "34 30 0:31 / /sys/fs/cgroup/memory rw,relatime - cgroup cgroup rw,memory\n"
    "40 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 cgroup2 rw\n";

INSTANTIATE_TEST_SUITE_P(
    Layouts, ControlGroupLimitTest,
    ::testing::Values(
        // systemd-run -p MemoryMax=1G: the limit sits above the process's own group.
        GroupCase{"V2LimitAboveTheOwnGroup",
                  "0::/user.slice/run-7.service/inner\n",
                  kV2Mount,
                  {{"sys/fs/cgroup/user.slice/run-7.service/inner/memory.max", "max\n"},
                   {"sys/fs/cgroup/user.slice/run-7.service/memory.max", "1073741824\n"},
                   {"sys/fs/cgroup/user.slice/memory.max", "4294967296\n"}},
                  1073741824,
                  "/user.slice/run-7.service"},
        GroupCase{"V2NoLimit", "0::/a/b\n", kV2Mount,
                  {{"sys/fs/cgroup/a/b/memory.max", "max\n"}, {"sys/fs/cgroup/a/memory.max", "max\n"}}, 0, ""},
        // v1: memory shares its hierarchy with hugetlb; the root's "no limit" is a huge number.
        GroupCase{"V1AmongOtherControllers",
                  "5:cpuset:/\n4:hugetlb,memory:/batch/job7\n0::/\n",
                  kV1Mounts,
                  {{"sys/fs/cgroup/memory,hugetlb/memory.limit_in_bytes", "9223372036854771712\n"},
                   {"sys/fs/cgroup/memory,hugetlb/batch/memory.limit_in_bytes", "2147483648\n"},
                   {"sys/fs/cgroup/memory,hugetlb/batch/job7/memory.limit_in_bytes", "4294967296\n"},
                   {"sys/fs/cgroup/cpuset/memory.limit_in_bytes", "1\n"}},
                  2147483648,
                  "/batch"},
        // Both versions mounted: the smaller limit wins.
        GroupCase{"HybridTakesTheSmaller",
                  "4:memory:/slurm/job9\n0::/slurm/job9\n",
                  kHybridMounts,
                  {{"sys/fs/cgroup/memory/slurm/job9/memory.limit_in_bytes", "3221225472\n"},
                   {"sys/fs/cgroup/unified/slurm/job9/memory.max", "1610612736\n"}},
                  1610612736,
                  "/slurm/job9"},
        // A container's mount shows its own part of the tree at the mount
        // point (escaped space in the path); nothing above it is read.
        GroupCase{"ContainerSeesItsPart",
                  "0::/kubepods/pod1/c2\n",
                  "25 1 0:30 /kubepods/pod1 /cg\\040root ro - cgroup2 cgroup rw\n",
                  {{"cg root/c2/memory.max", "max\n"},
                   {"cg root/memory.max", "536870912\n"},
                   {"memory.max", "1\n"}},
                  536870912,
                  "/kubepods/pod1"}));
}  // namespace
}  // namespace pictovance::render
