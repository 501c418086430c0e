// Naming and writing saved pictures.
//
// A result file is named by the whole seconds from 30 December 1899 00:00
// to now on the local wall clock, "-", and two upper-case hexadecimal digits
// drawn with RandomInt(15); it is written as PNG at compression 8. An
// existing file is never overwritten: the digits are drawn again.
//
// Names never run out. Only when all 256 two-digit names of a second are
// taken in the folder does a name get a third digit ("<seconds>-<D1><D2><D3>",
// 4096 more), then a fourth, and so on. Longer names still sort by time:
// the seconds come first and keep ten digits until the year 2216, and
// within one second the order of the files is not promised.
//
// What it does not promise: that the digits are random once a form is
// nearly full (the free names are then searched for in order).
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

#include "generator/random.h"
#include "imaging/image.h"

namespace pictovance {

// Whole seconds from 1899-12-30 00:00:00 to the given broken-down local
// time, both read on the same wall clock.
std::int64_t SecondsSince1899(const std::tm& local);
// The same for the current local time.
std::int64_t SecondsSince1899Now();

// "<seconds>-<D1><D2>" with the two digits 0..15 written in upper-case hex.
std::string ResultFileName(std::int64_t seconds, int first, int second);

// Where the time part of names comes from: SecondsSince1899Now, or a test's
// own clock.
using SecondsClock = std::function<std::int64_t()>;

// Claims result names in folders for one writer at a time; give every
// thread its own. Writers in other threads or processes never get the same
// name, since the file system decides every claim.
class ResultNames {
 public:
  explicit ResultNames(SecondsClock clock = SecondsSince1899Now) : m_clock(std::move(clock)) {}

  // Offers fresh file names (a result name plus ".png") to take, which
  // publishes a file under the name and says whether it could (false: a
  // file has that name already), until one is taken; returns its path. The
  // digits are drawn from rng, first digit first. Errors raised by take
  // pass through; ImageError when no name of this second is left.
  std::filesystem::path Claim(const std::filesystem::path& folder, Random& rng,
                              const std::function<bool(const std::string& name)>& take);

 private:
  SecondsClock m_clock;
  // The shortest form that may still be free in m_second in m_folder: once a
  // form is found full, later claims of that second skip the search.
  std::int64_t m_second = -1;
  std::filesystem::path m_folder;
  int m_digits = 2;
};

// Writes picture into folder under a fresh result name (the name plus the
// ".png" the image object adds) and returns the path written. The file
// appears under its name only when complete (imaging/new_file.h); no empty
// or partial file ever has the name. Raises ImageError when the folder
// cannot take the file; nothing is left behind then.
std::filesystem::path SaveResultPicture(Image& picture, const std::filesystem::path& folder, Random& rng);
// The same, claiming the name through names.
std::filesystem::path SaveResultPicture(Image& picture, const std::filesystem::path& folder, Random& rng,
                                        ResultNames& names);

}  // namespace pictovance
