// Files that others name: a source picture, a picture to paint again. Only
// the file given is read, only when it is a regular file, and never by
// waiting on it.
//
// A name is taken as the bytes the system gives: it reaches open()
// unchanged, so any name that exists can be read, whatever its encoding.
// The file is looked at before it is opened (a pipe, socket, device or
// folder is refused without being opened), then opened without blocking and
// looked at again through its descriptor, which is what decides. A picture
// is read whole into memory through that one descriptor, so that nothing
// opens the name a second time: the bytes that are checked, hashed and
// decoded are the same.
//
// What it does not promise: that a regular file on a slow or hung network
// mount answers quickly (its reads may still wait on the storage), or that
// the file does not change after it was read.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace pictovance {

// The name as a message shows it: valid UTF-8 stays as it is, while a byte
// that is not valid UTF-8 is written \xE9, and control characters (and the
// characters that reorder or break a line of text) as \n, \t, \x01 or
// \u202E, so that a message stays one readable line. A text of more than
// maxChars characters (an escape counts as one) is cut there, and
// "... (N bytes in all)" says how long it was.
std::string ReadableName(std::string_view name, std::size_t maxChars = std::string_view::npos);

// The largest file ReadSourceFile reads into memory: 512 MiB, above any
// picture of up to kMaxLoadPixels that a camera or an editor writes.
inline constexpr std::uint64_t kMaxSourceFileBytes = std::uint64_t{512} << 20;

// An open regular file, closed when the object goes.
class RegularFile {
 public:
  // Opens path for reading. Errors: kErrorFileNotFound; kErrorFileAccess
  // for what is not a regular file (a folder, a named pipe, a socket, a
  // device, symbolic links in a loop) or cannot be read, with the errno of
  // the failed call where there is one.
  explicit RegularFile(const std::string& path);
  ~RegularFile();
  RegularFile(const RegularFile&) = delete;
  RegularFile& operator=(const RegularFile&) = delete;

  int Descriptor() const noexcept { return m_fd; }
  // The size when it was opened.
  std::uint64_t Size() const noexcept { return m_size; }
  // Reads up to size bytes into data, going on after interruptions; returns
  // the count read, less than size only at the end of the file. Errors:
  // kErrorFileAccess.
  std::size_t Read(char* data, std::size_t size);
  // The rest of the file. Errors: kErrorTooLarge when it holds more than
  // maxBytes, kErrorFileAccess.
  std::string ReadAll(std::uint64_t maxBytes);

 private:
  int m_fd = -1;
  std::uint64_t m_size = 0;
  std::string m_path;
};

// The whole of the regular file at path, read through one descriptor.
// Errors: those of RegularFile, and kErrorTooLarge above maxBytes.
std::string ReadSourceFile(const std::string& path, std::uint64_t maxBytes = kMaxSourceFileBytes);

}  // namespace pictovance
