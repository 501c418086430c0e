// Naming and writing saved pictures.
//
// A result file is named by the whole seconds from 30 December 1899 00:00
// to now on the local wall clock, "-", and two upper-case hexadecimal digits
// drawn with RandomInt(15); it is written as PNG at compression 8. An
// existing file is never overwritten: the digits are drawn again.
#pragma once

#include <cstdint>
#include <ctime>
#include <filesystem>
#include <string>

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

// Writes picture into folder under a fresh result name (the name plus the
// ".png" the image object adds) and returns the path written. Raises
// ImageError when the folder cannot take the file; no partial file is left.
std::filesystem::path SaveResultPicture(Image& picture, const std::filesystem::path& folder,
                                        Random& rng);

}  // namespace pictovance
