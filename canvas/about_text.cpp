#include "canvas/about_text.h"

#include <cstddef>

namespace pictovance {

namespace {

// The three stored texts, scrambled; only Unscramble makes them readable.
// Each is a fixed-length byte string: sizeof - 1 is its length, which is
// also what its key depends on.
constexpr char kTitle[] = "\x5B\x62\x68\x7F\x64\x7D\x6A\x65\x68\x6E";
constexpr char kAboutLine1[] = "\x41\x68\x7F\x6C\x29\x6F\x7C\x67";
constexpr char kAboutLine2[] =
    "\x58\x6B\x78\x6F\x64\x3D\x7E\x71\x74\x7E\x76\x3D"
    "\x6D\x7C\x74\x73\x69\x6E\x3D\x7C\x3D\x73\x78\x6A"
    "\x3D\x72\x73\x78";

template <std::size_t N>
std::string UnscrambleStored(const char (&stored)[N]) {
  return Unscramble(std::string_view(stored, N - 1));
}

}  // namespace

std::string Unscramble(std::string_view latin1) {
  const unsigned key = (static_cast<unsigned>(latin1.size()) & 30u) | 1u;
  std::string text(latin1);
  for (char& c : text) c = static_cast<char>(static_cast<unsigned char>(c) ^ key);
  return text;
}

std::string ProgramTitle() { return UnscrambleStored(kTitle); }

std::string AboutText() {
  std::string text = "v 1.0.0.";
  text += std::to_string(5);
  text += "\r\n\r\n\r\n";
  text += UnscrambleStored(kAboutLine1);
  text += "\r\n";
  text += UnscrambleStored(kAboutLine2);
  return text;
}

}  // namespace pictovance
