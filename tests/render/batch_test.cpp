#include "tools/render/batch.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>

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

}  // namespace
}  // namespace pictovance::render
