#include "canvas/result_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace pictovance {

namespace {

// Days from 1970-01-01 to the given civil date (proleptic Gregorian).
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const auto yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

constexpr int kMaxNameTries = 4096;

}  // namespace

std::int64_t SecondsSince1899(const std::tm& local) {
  const std::int64_t days = DaysFromCivil(local.tm_year + 1900LL, static_cast<unsigned>(local.tm_mon + 1),
                                          static_cast<unsigned>(local.tm_mday)) -
                            DaysFromCivil(1899, 12, 30);
  return days * 86400 + local.tm_hour * 3600LL + local.tm_min * 60LL + local.tm_sec;
}

std::int64_t SecondsSince1899Now() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  return SecondsSince1899(local);
}

std::string ResultFileName(std::int64_t seconds, int first, int second) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string name = std::to_string(seconds);
  name += '-';
  name += kHex[first & 15];
  name += kHex[second & 15];
  return name;
}

std::filesystem::path SaveResultPicture(Image& picture, const std::filesystem::path& folder,
                                        Random& rng) {
  const std::int64_t seconds = SecondsSince1899Now();
  for (int attempt = 0; attempt < kMaxNameTries; ++attempt) {
    const int first = rng.RandomInt(15);
    const int second = rng.RandomInt(15);
    const std::string name = ResultFileName(seconds, first, second);
    const std::filesystem::path target = folder / (name + ".png");
    // Claim the name first, so two saves in one second can never write the
    // same file; the image object then replaces the empty claim atomically.
    const int fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
      if (errno == EEXIST) continue;
      const int cause = errno;
      throw ImageError(kErrorWriteFailed, "Cannot write " + target.string() + ": " + std::strerror(cause),
                       cause);
    }
    ::close(fd);
    picture.SetSaveFormat(3);
    picture.SetSavePNGCompression(8);
    try {
      picture.SaveBitmap((folder / name).string());
    } catch (...) {
      std::error_code ignored;
      std::filesystem::remove(target, ignored);
      throw;
    }
    return target;
  }
  throw ImageError(kErrorWriteFailed, "No free file name left in " + folder.string() + " this second");
}

}  // namespace pictovance
