// The fuzz targets read files, not memory: each input is written to a file
// of this process's own before the code under test opens it.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace pictovance::fuzz {

// Writes data to a file named after this process and suffix; returns its
// path, or an empty string when the file could not be written.
inline std::string WriteInput(const std::uint8_t* data, std::size_t size, const char* suffix) {
  static const std::string path = "/tmp/pictovance-fuzz-" + std::to_string(::getpid()) + suffix;
  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return {};
  const bool written = std::fwrite(data, 1, size, file) == size;
  if (std::fclose(file) != 0 || !written) return {};
  return path;
}

}  // namespace pictovance::fuzz
