// A full file system for tests: a tmpfs of 64 KB mounted on a fresh folder
// and filled up to the last byte, or left empty to fill up as a test writes. Mounting needs root (or the
// capability to mount); where it cannot be had, Mounted() is false and
// Reason() says why, for GTEST_SKIP.
#pragma once

#include <sys/mount.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

namespace pictovance::testing {

class FullDisk {
 public:
  enum class Start { kFull, kEmpty };
  explicit FullDisk(Start start = Start::kFull) {
    m_path = std::filesystem::temp_directory_path() /
             ("pictovance-full-" + std::to_string(::getpid()) + "-" + std::to_string(s_count++));
    std::filesystem::create_directories(m_path);
    if (::mount("tmpfs", m_path.c_str(), "tmpfs", 0, "size=64k") != 0) {
      m_reason = std::string("cannot mount a small tmpfs to fill up (") + std::strerror(errno) +
                 "); needs root or CAP_SYS_ADMIN";
      return;
    }
    m_mounted = true;
    if (start == Start::kEmpty) return;
    std::ofstream filler(m_path / "filler", std::ios::binary);
    const std::vector<char> block(4096, 'x');
    while (filler.write(block.data(), static_cast<std::streamsize>(block.size()))) filler.flush();
    filler.clear();
    for (int i = 0; i < 4096 && filler.write("x", 1); ++i) filler.flush();  // the last partial block
  }
  ~FullDisk() {
    if (m_mounted) ::umount2(m_path.c_str(), MNT_DETACH);
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
  }
  FullDisk(const FullDisk&) = delete;
  FullDisk& operator=(const FullDisk&) = delete;

  friend void PrintTo(Start start, std::ostream* out) { *out << (start == Start::kFull ? "full" : "empty"); }

  bool Mounted() const { return m_mounted; }
  const std::string& Reason() const { return m_reason; }
  const std::filesystem::path& path() const { return m_path; }

  // Everything in the folder but the filler, by name.
  std::vector<std::string> Others() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(m_path))
      if (entry.path().filename() != "filler") names.push_back(entry.path().filename().string());
    return names;
  }

 private:
  static inline int s_count = 0;
  std::filesystem::path m_path;
  bool m_mounted = false;
  std::string m_reason;
};

}  // namespace pictovance::testing
