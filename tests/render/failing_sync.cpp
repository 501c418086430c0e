// Loaded into the renderer with LD_PRELOAD by the render tests: fsync and
// fdatasync fail with EIO for every file that holds data, as they do when
// the disk cannot write what was cached. Empty files (the renderer's probe
// of its output folder) have nothing to flush and still succeed.
#include <sys/stat.h>

#include <cerrno>

namespace {

int FailForData(int fd) {
  struct stat status {};
  if (::fstat(fd, &status) == 0 && status.st_size > 0) {
    errno = EIO;
    return -1;
  }
  return 0;
}

}  // namespace

extern "C" int fsync(int fd) { return FailForData(fd); }
extern "C" int fdatasync(int fd) { return FailForData(fd); }
