// How many jobs of a batch fit in the memory the renderer may use.
//
// The memory is the machine's, or less where a control group limits the
// process: its own group or any group above it, as systemd-run -p
// MemoryMax=, batch schedulers and container runtimes set them, under
// control groups v2 (memory.max) or v1 (memory.limit_in_bytes). The groups
// are found from /proc/self/cgroup and /proc/self/mountinfo. A job is
// counted at what it was measured to hold, not at one canvas.
//
// What it does not promise: to see memory used by other processes of the
// same group, or limits other than those two files (memory.high, swap).
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>

namespace pictovance::render {

struct MemoryLimit {
  std::uint64_t bytes = 0;  // 0: unknown
  std::string what;         // where the figure comes from, for the user
};

// The smallest memory limit among the control groups of this process, from
// its own up to the root of each hierarchy, or nothing when none is set.
// root is the file system root /proc and the control group mounts are read
// under (a test's fake folder, else "/").
std::optional<MemoryLimit> ControlGroupLimit(const std::filesystem::path& root = "/");

// The memory the process may use: the machine's, or a control group's limit
// when that is lower. bytes 0 when unknown.
MemoryLimit UsableMemory();

// What one job holds while it paints and saves a canvas of the given size.
std::uint64_t JobBytes(std::uint64_t width, std::uint64_t height);

// jobs lowered so that jobs jobs of jobBytes each fit in half of
// memoryBytes, but at least 1. memoryBytes 0 (unknown) keeps jobs.
int JobsThatFit(int jobs, std::uint64_t jobBytes, std::uint64_t memoryBytes);

}  // namespace pictovance::render
