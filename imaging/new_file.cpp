#include "imaging/new_file.h"

#include <dirent.h>
#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <mutex>
#include <random>
#include <set>
#include <string_view>

#include "imaging/image.h"

namespace pictovance {

namespace {

[[noreturn]] void ThrowWriteFailed(const std::string& what, int error) {
  throw ImageError(kErrorWriteFailed, "Cannot write " + what + ": " + std::strerror(error), error);
}

// linkat reaches an unnamed file through /proc (AT_EMPTY_PATH would need
// CAP_DAC_READ_SEARCH); without /proc the hidden named file is used.
bool ProcFdAvailable() {
  static const bool available = ::access("/proc/self/fd", X_OK) == 0;
  return available;
}

// True when open with O_TMPFILE failed because the file system (or the
// kernel) cannot make unnamed files, rather than because of the folder.
bool NoUnnamedFiles(int error) { return error == EOPNOTSUPP || error == EISDIR || error == EINVAL; }

// The folders this process has cleaned of stale hidden files.
std::mutex g_sweptMutex;
std::set<std::filesystem::path> g_swept;

void SweepOnce(const std::filesystem::path& folder) {
  {
    const std::lock_guard lock(g_sweptMutex);
    if (!g_swept.insert(folder.lexically_normal()).second) return;
  }
  RemoveStaleTemporaries(folder);
}

bool SameFile(const struct stat& a, const struct stat& b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

NewFile::NewFile(const std::filesystem::path& folder, const char* data, std::size_t size, Way way)
    : NewFile(folder, std::vector<std::span<const char>>{{data, size}}, way) {}

NewFile::NewFile(const std::filesystem::path& folder, const std::vector<std::span<const char>>& pieces, Way way)
    : m_folder(folder.empty() ? std::filesystem::path(".") : folder) {
  const std::string where = "into " + m_folder.string();
  if (way == Way::kAutomatic && ProcFdAvailable()) {
    m_fd = ::open(m_folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0644);
    if (m_fd < 0 && !NoUnnamedFiles(errno)) ThrowWriteFailed(where, errno);
  }
  while (m_fd < 0) {
    SweepOnce(m_folder);
    std::string temporary = (m_folder / (std::string(kTemporaryPrefix) + "XXXXXX")).string();
    m_fd = ::mkostemp(temporary.data(), O_CLOEXEC);
    if (m_fd < 0) ThrowWriteFailed(where, errno);
    // The lock tells sweepers that a live writer holds the file. One that
    // came between mkostemp and the lock may have removed the file: then
    // it has no link left, and a new one is made.
    struct stat status {};
    if (::flock(m_fd, LOCK_EX) != 0 || ::fstat(m_fd, &status) != 0) {
      const int error = errno;
      ::close(m_fd);
      ::unlink(temporary.c_str());
      m_fd = -1;
      ThrowWriteFailed(where, error);
    }
    if (status.st_nlink == 0) {
      ::close(m_fd);
      m_fd = -1;
      continue;
    }
    m_temporary = temporary;
  }

  // A full disk shows up at write, fsync or close, depending on the file
  // system; every one is checked.
  int error = 0;
  for (const std::span<const char> piece : pieces) {
    const char* data = piece.data();
    std::size_t left = piece.size();
    while (left > 0 && error == 0) {
      const ssize_t written = ::write(m_fd, data, left);
      if (written < 0) {
        if (errno != EINTR) error = errno;
      } else {
        data += written;
        left -= static_cast<std::size_t>(written);
      }
    }
  }
  // A saved picture is for everyone to read, whatever the umask or
  // mkostemp's private mode say.
  if (error == 0 && ::fchmod(m_fd, 0644) != 0) error = errno;
  if (error == 0 && ::fsync(m_fd) != 0) error = errno;
  if (error != 0) {
    Release();
    ThrowWriteFailed(where, error);
  }
}

NewFile::~NewFile() { Release(); }

NewFile::NewFile(NewFile&& other) noexcept
    : m_folder(std::move(other.m_folder)),
      m_fd(other.m_fd),
      m_temporary(std::move(other.m_temporary)),
      m_published(other.m_published) {
  other.m_fd = -1;
  other.m_temporary.clear();
}

void NewFile::Release() noexcept {
  if (m_fd < 0) return;
  // Still under the lock: no sweeper can be removing it at the same time.
  if (!m_published && !m_temporary.empty()) ::unlink(m_temporary.c_str());
  ::close(m_fd);
  m_fd = -1;
}

bool NewFile::PublishAs(const std::string& name) {
  const std::filesystem::path target = m_folder / name;
  if (m_published || m_fd < 0) throw ImageError(kErrorWriteFailed, "Cannot write " + target.string() + " twice");
  if (m_temporary.empty()) {
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
      if (errno == EEXIST) return false;
      ThrowWriteFailed(target.string(), errno);
    }
  } else if (::renameat2(AT_FDCWD, m_temporary.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) != 0) {
    if (errno == EEXIST) return false;
    // File systems without RENAME_NOREPLACE (NFS): a hard link is made only
    // where no file has the name, too.
    if (errno != EINVAL && errno != ENOSYS) ThrowWriteFailed(target.string(), errno);
    if (::link(m_temporary.c_str(), target.c_str()) != 0) {
      if (errno == EEXIST) return false;
      ThrowWriteFailed(target.string(), errno);
    }
    ::unlink(m_temporary.c_str());
  }
  m_published = true;
  Release();
  return true;
}

void NewFile::ReplaceAs(const std::string& name) {
  const std::filesystem::path target = m_folder / name;
  if (m_published || m_fd < 0) throw ImageError(kErrorWriteFailed, "Cannot write " + target.string() + " twice");
  if (m_temporary.empty()) {
    // rename replaces, linkat does not: the unnamed file gets a hidden name
    // first, still held by this writer's lock.
    if (::flock(m_fd, LOCK_EX) != 0) ThrowWriteFailed(target.string(), errno);
    SweepOnce(m_folder);
    static constexpr char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
    std::random_device entropy;
    for (int attempt = 0;; ++attempt) {
      std::string hidden = kTemporaryPrefix;
      for (int k = 0; k < 6; ++k) hidden += kLetters[entropy() % 62];
      const std::filesystem::path path = m_folder / hidden;
      if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) == 0) {
        m_temporary = path;
        break;
      }
      if (errno != EEXIST || attempt == 100) ThrowWriteFailed(target.string(), errno);
    }
  }
  if (::rename(m_temporary.c_str(), target.c_str()) != 0) {
    const int error = errno;
    Release();
    ThrowWriteFailed(target.string(), error);
  }
  m_published = true;
  Release();
}

void RemoveStaleTemporaries(const std::filesystem::path& folder) {
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  DIR* listing = ::fdopendir(dir);
  if (listing == nullptr) {
    ::close(dir);
    return;
  }
  constexpr std::string_view kPrefix = kTemporaryPrefix;
  while (const dirent* entry = ::readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (!name.starts_with(kPrefix) || name.size() != kPrefix.size() + 6) continue;
    const int fd = ::openat(dir, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) continue;
    // Only a file that no writer holds locked is stale, and only while the
    // name still leads to the file locked here.
    struct stat opened {};
    struct stat named {};
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::fstat(fd, &opened) == 0 && S_ISREG(opened.st_mode) &&
        ::fstatat(dir, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && SameFile(opened, named)) {
      ::unlinkat(dir, entry->d_name, 0);
    }
    ::close(fd);
  }
  ::closedir(listing);
}

}  // namespace pictovance
