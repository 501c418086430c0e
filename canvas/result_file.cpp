#include "canvas/result_file.h"

#include <cstring>
#include <optional>

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

// Random draws per form of name before the next, longer form is tried.
constexpr int kRandomTries = 64;
// Forms of up to this many digits (4096 names) are searched through in
// order after the random misses, so no free name of them is skipped.
constexpr int kSearchedDigits = 3;
// 16 digits are 2^64 names in one second.
constexpr int kMaxDigits = 16;

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

std::filesystem::path ResultNames::Claim(const std::filesystem::path& folder, Random& rng,
                                         const std::function<bool(const std::string&)>& take) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  const std::int64_t seconds = m_clock();
  const std::string prefix = std::to_string(seconds) + '-';
  // The file system, not a check beforehand, decides between writers
  // racing for the same name.
  const auto claim = [&](const std::string& digits) -> std::optional<std::filesystem::path> {
    std::string name = prefix + digits + ".png";
    if (!take(name)) return std::nullopt;
    return folder / name;
  };
  int digits = seconds == m_second && folder == m_folder ? m_digits : 2;
  for (; digits <= kMaxDigits; ++digits) {
    std::string name(static_cast<std::size_t>(digits), '0');
    for (int attempt = 0; attempt < kRandomTries; ++attempt) {
      for (char& digit : name) digit = kHex[rng.RandomInt(15)];
      if (auto target = claim(name)) return *target;
    }
    // So many misses mean the form is (nearly) full: short forms are walked
    // through to be sure, longer ones are left after the misses.
    if (digits <= kSearchedDigits) {
      for (std::uint32_t value = 0; value < (1u << (4 * digits)); ++value) {
        for (int k = 0; k < digits; ++k)
          name[static_cast<std::size_t>(k)] = kHex[(value >> (4 * (digits - 1 - k))) & 15];
        if (auto target = claim(name)) return *target;
      }
    }
    m_second = seconds;
    m_folder = folder;
    m_digits = digits + 1;
  }
  throw ImageError(kErrorWriteFailed, "No free file name left in " + folder.string() + " this second");
}

std::filesystem::path SaveResultPicture(Image& picture, const std::filesystem::path& folder, Random& rng) {
  ResultNames names;
  return SaveResultPicture(picture, folder, rng, names);
}

std::filesystem::path SaveResultPicture(Image& picture, const std::filesystem::path& folder, Random& rng,
                                        ResultNames& names) {
  picture.SetSaveFormat(3);
  picture.SetSavePNGCompression(8);
  // The first name is drawn before the picture is written, as the window
  // always drew it, so a failed save uses the same draws. The file is
  // written and flushed without a name, then named in one step: nobody sees
  // the name before the picture is complete.
  std::optional<NewFile> file;
  return names.Claim(folder, rng, [&](const std::string& name) {
    if (!file) {
      try {
        file.emplace(picture.SaveBitmapUnnamed(folder.string()));
      } catch (const ImageError& error) {
        // Named after the file the user would have got, as the window
        // always named it.
        if (error.SystemError() == 0) throw;
        throw ImageError(kErrorWriteFailed,
                         "Cannot write " + (folder / name).string() + ": " + std::strerror(error.SystemError()),
                         error.SystemError());
      }
    }
    return file->PublishAs(name);
  });
}

}  // namespace pictovance
