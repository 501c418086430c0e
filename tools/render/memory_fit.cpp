#include "tools/render/memory_fit.h"

#include <unistd.h>

#include <algorithm>
#include <fstream>
#include <sstream>
#include <string_view>
#include <vector>

#include "canvas/whole_number.h"

namespace pictovance::render {

namespace {

namespace fs = std::filesystem;

// control groups v1 write "no limit" as the largest page count in bytes
// (9223372036854771712 with 4 KiB pages); anything this large is none.
constexpr std::uint64_t kNoLimit = std::uint64_t{1} << 62;

// mountinfo writes a space, tab, newline and backslash in a path as \040,
// \011, \012 and \134.
std::string Unescape(std::string_view text) {
  std::string plain;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\\' && i + 3 < text.size()) {
      const auto code = text.substr(i + 1, 3);
      if (std::all_of(code.begin(), code.end(), [](char c) { return c >= '0' && c <= '7'; })) {
        plain += static_cast<char>((code[0] - '0') * 64 + (code[1] - '0') * 8 + (code[2] - '0'));
        i += 3;
        continue;
      }
    }
    plain += text[i];
  }
  return plain;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> parts;
  for (;;) {
    const auto at = text.find(separator);
    parts.push_back(text.substr(0, at));
    if (at == std::string_view::npos) return parts;
    text.remove_prefix(at + 1);
  }
}

// One hierarchy that can limit memory: the group of this process in it,
// and the file that holds a group's limit.
struct Hierarchy {
  bool v2;
  std::string group;  // "/a/b", as /proc/self/cgroup names it
};

struct Mount {
  std::string root;   // the group at the mount point
  fs::path point;
};

// The mount of the hierarchy, or nothing.
std::optional<Mount> FindMount(const fs::path& root, bool v2) {
  std::ifstream mountinfo(root / "proc/self/mountinfo");
  for (std::string line; std::getline(mountinfo, line);) {
    const auto fields = Split(line, ' ');
    const auto dash = std::find(fields.begin(), fields.end(), "-");
    if (fields.size() < 5 || dash == fields.end() || fields.end() - dash < 4) continue;
    const std::string_view type = dash[1];
    if (v2 ? type != "cgroup2" : type != "cgroup") continue;
    if (!v2) {
      const auto options = Split(dash[3], ',');
      if (std::find(options.begin(), options.end(), "memory") == options.end()) continue;
    }
    return Mount{Unescape(fields[3]), Unescape(fields[4])};
  }
  return std::nullopt;
}

std::optional<std::uint64_t> ReadLimit(const fs::path& file) {
  std::ifstream in(file);
  std::string text;
  if (!(in >> text)) return std::nullopt;  // missing, or a group without the controller
  const auto value = ParseWhole<std::uint64_t>(text);  // v2 writes "max" for none
  if (!value || *value >= kNoLimit) return std::nullopt;
  return value;
}

}  // namespace

std::optional<MemoryLimit> ControlGroupLimit(const fs::path& root) {
  std::vector<Hierarchy> hierarchies;
  std::ifstream groups(root / "proc/self/cgroup");
  for (std::string line; std::getline(groups, line);) {
    // "ID:CONTROLLERS:PATH"; the path may hold colons itself.
    const auto first = line.find(':');
    const auto second = first == std::string::npos ? first : line.find(':', first + 1);
    if (second == std::string::npos) continue;
    const std::string_view controllers = std::string_view(line).substr(first + 1, second - first - 1);
    const std::string group = line.substr(second + 1);
    if (line.compare(0, first, "0") == 0 && controllers.empty()) {
      hierarchies.push_back({true, group});
    } else {
      const auto names = Split(controllers, ',');
      if (std::find(names.begin(), names.end(), "memory") != names.end()) hierarchies.push_back({false, group});
    }
  }

  std::optional<MemoryLimit> smallest;
  for (const Hierarchy& hierarchy : hierarchies) {
    const auto mount = FindMount(root, hierarchy.v2);
    if (!mount) continue;
    // The group's folder under the mount; a group outside the mount's own
    // (a container that sees only its part) is read at the mount point.
    fs::path relative;
    const std::string& top = mount->root;
    if (hierarchy.group.starts_with(top) &&
        (top == "/" || hierarchy.group.size() == top.size() || hierarchy.group[top.size()] == '/')) {
      relative = fs::path(hierarchy.group.substr(top.size())).relative_path();
    }
    const fs::path point = root / mount->point.relative_path();
    const char* file = hierarchy.v2 ? "memory.max" : "memory.limit_in_bytes";
    fs::path group = relative;
    for (;;) {
      if (const auto limit = ReadLimit(point / group / file); limit && (!smallest || *limit < smallest->bytes)) {
        const std::string name = group.empty() ? top : (fs::path(top) / group).generic_string();
        smallest = MemoryLimit{*limit, "the memory limit of control group " + name};
      }
      if (group.empty()) break;
      group = group.parent_path();
    }
  }
  return smallest;
}

MemoryLimit UsableMemory() {
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  MemoryLimit memory{pages > 0 && pageSize > 0 ? static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize)
                                               : 0,
                     "the machine's memory"};
  if (const auto limit = ControlGroupLimit(); limit && (memory.bytes == 0 || limit->bytes < memory.bytes)) {
    memory = *limit;
  }
  return memory;
}

std::uint64_t JobBytes(std::uint64_t width, std::uint64_t height) {
  // A job holds its canvas, the copy a filter or the colour reduction
  // works on or the PNG encoder's rows and output, and some buffers of its
  // own. Peak resident memory of one picture with the finishing pass, worst
  // of seeds 1 to 5, less the 26 MB of the program alone
  // (bash bench/job_memory.sh build/tools/render/pictovance-render):
  //   2000 x 2000:  37 MB, 2.43 canvases     6000 x 6000: 271 MB, 1.98
  //   4000 x 4000: 120 MB, 1.97              8000 x 8000: 301 MB, 1.23
  //   9999 x 9999: 787 MB, 2.06
  // 2.1 canvases and 8 MiB cover every one of them.
  constexpr std::uint64_t kFixedBytes = std::uint64_t{8} << 20;
  return width * height * 4 * 21 / 10 + kFixedBytes;
}

int JobsThatFit(int jobs, std::uint64_t jobBytes, std::uint64_t memoryBytes) {
  if (memoryBytes == 0 || jobBytes == 0) return jobs;
  const std::uint64_t fitting = memoryBytes / 2 / jobBytes;
  return static_cast<int>(std::clamp<std::uint64_t>(fitting, 1, static_cast<std::uint64_t>(std::max(jobs, 1))));
}

}  // namespace pictovance::render
