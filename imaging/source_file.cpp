#include "imaging/source_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "imaging/image.h"

namespace pictovance {

namespace {

void AppendHex(std::string& out, const char* format, unsigned value) {
  char text[12];
  std::snprintf(text, sizeof text, format, value);
  out += text;
}

// The length of the valid UTF-8 sequence at the start of s and its code
// point, or 0 when it is not one (overlong forms and surrogates included).
std::size_t Utf8Sequence(std::string_view s, char32_t& code) {
  const auto byte = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
  const unsigned lead = byte(0);
  std::size_t length = 0;
  char32_t min = 0;
  if (lead < 0x80) {
    code = lead;
    return 1;
  }
  if ((lead & 0xE0) == 0xC0) {
    length = 2, code = lead & 0x1F, min = 0x80;
  } else if ((lead & 0xF0) == 0xE0) {
    length = 3, code = lead & 0x0F, min = 0x800;
  } else if ((lead & 0xF8) == 0xF0) {
    length = 4, code = lead & 0x07, min = 0x10000;
  } else {
    return 0;
  }
  if (s.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 0;
    code = code << 6 | (byte(i) & 0x3F);
  }
  if (code < min || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return length;
}

// Characters that would end the line, move the cursor or turn the text
// around the name: C0 and C1 controls, DEL, the line and paragraph
// separators and the bidirectional marks and overrides.
bool Unprintable(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F) || c == 0x200E || c == 0x200F || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2066 && c <= 0x2069);
}

[[noreturn]] void ThrowCannotRead(const std::string& path, int error) {
  throw ImageError(kErrorFileAccess, "Cannot read " + ReadableName(path) + ": " + std::strerror(error),
                   error);
}

// What a name that is not a regular file names, in a few words.
const char* KindOf(mode_t mode) {
  if (S_ISDIR(mode)) return "a folder";
  if (S_ISFIFO(mode)) return "a named pipe";
  if (S_ISSOCK(mode)) return "a socket";
  if (S_ISCHR(mode)) return "a character device";
  if (S_ISBLK(mode)) return "a block device";
  return "a special file";
}

void RefuseUnlessRegular(const struct stat& info, const std::string& path) {
  if (!S_ISREG(info.st_mode))
    throw ImageError(kErrorFileAccess,
                     std::string("Not a file but ") + KindOf(info.st_mode) + ": " + ReadableName(path));
}

[[noreturn]] void ThrowOpenFailed(const std::string& path, int error) {
  // No errno for a missing file: the number says it, and the window's
  // words for ENOENT are about folders to save into.
  if (error == ENOENT || error == ENOTDIR)
    throw ImageError(kErrorFileNotFound, "File not found: " + ReadableName(path));
  if (error == ELOOP) {
    throw ImageError(kErrorFileAccess,
                     "Cannot read " + ReadableName(path) + ": its symbolic links form a loop", error);
  }
  ThrowCannotRead(path, error);
}

}  // namespace

std::string ReadableName(std::string_view name, std::size_t maxChars) {
  std::string out;
  out.reserve(std::min(name.size(), maxChars));
  const std::size_t total = name.size();
  for (std::size_t chars = 0; !name.empty(); ++chars) {
    if (chars == maxChars) {
      out += "... (" + std::to_string(total) + " bytes in all)";
      break;
    }
    char32_t code = 0;
    const std::size_t length = Utf8Sequence(name, code);
    if (length == 0) {
      AppendHex(out, "\\x%02X", static_cast<unsigned char>(name[0]));
      name.remove_prefix(1);
      continue;
    }
    if (!Unprintable(code)) {
      out.append(name.substr(0, length));
    } else if (code == '\n') {
      out += "\\n";
    } else if (code == '\t') {
      out += "\\t";
    } else if (code == '\r') {
      out += "\\r";
    } else if (code < 0x80) {
      AppendHex(out, "\\x%02X", static_cast<unsigned>(code));
    } else {
      AppendHex(out, "\\u%04X", static_cast<unsigned>(code));
    }
    name.remove_prefix(length);
  }
  return out;
}

RegularFile::RegularFile(const std::string& path) : m_path(path) {
  // Looked at first, so that a device is never opened at all (opening one
  // can have effects of its own); then the descriptor decides, since the
  // name may have been replaced in between. O_NONBLOCK keeps a named pipe
  // without a writer from holding open() forever.
  struct stat info {};
  if (::stat(path.c_str(), &info) != 0) ThrowOpenFailed(path, errno);
  RefuseUnlessRegular(info, path);
  do {
    m_fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  } while (m_fd < 0 && errno == EINTR);
  if (m_fd < 0) ThrowOpenFailed(path, errno);
  if (::fstat(m_fd, &info) != 0) {
    const int error = errno;
    ::close(m_fd);
    ThrowCannotRead(path, error);
  }
  if (!S_ISREG(info.st_mode)) {
    ::close(m_fd);
    RefuseUnlessRegular(info, path);
  }
  m_size = static_cast<std::uint64_t>(info.st_size);
}

RegularFile::~RegularFile() { ::close(m_fd); }

std::size_t RegularFile::Read(char* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    const ssize_t got = ::read(m_fd, data + done, size - done);
    if (got < 0) {
      if (errno == EINTR) continue;
      ThrowCannotRead(m_path, errno);
    }
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  return done;
}

std::string RegularFile::ReadAll(std::uint64_t maxBytes) {
  const auto tooLarge = [&] {
    return ImageError(kErrorTooLarge, "File too large to read (more than " + std::to_string(maxBytes >> 20) +
                                          " MB): " + ReadableName(m_path));
  };
  if (m_size > maxBytes) throw tooLarge();
  // The size is a hint: a file that grows meanwhile is read on to its end,
  // up to the bound; /proc files say 0 and hold more.
  std::string bytes;
  bytes.resize(static_cast<std::size_t>(m_size) + 1);
  std::size_t used = 0;
  for (;;) {
    used += Read(bytes.data() + used, bytes.size() - used);
    if (used < bytes.size()) break;
    if (used > maxBytes) throw tooLarge();
    bytes.resize(static_cast<std::size_t>(std::min<std::uint64_t>(maxBytes + 1, bytes.size() * 2 + 4096)));
  }
  bytes.resize(used);
  return bytes;
}

std::string ReadSourceFile(const std::string& path, std::uint64_t maxBytes) {
  RegularFile file(path);
  return file.ReadAll(maxBytes);
}

}  // namespace pictovance
