// The program's stored texts: the window title and the two About lines are
// kept only scrambled and unscrambled at the moment of use.
#pragma once

#include <string>
#include <string_view>

namespace pictovance {

// XORs every character code (Latin-1, 0..255) with (length AND 30) OR 1.
// Its own inverse; keeps the length.
std::string Unscramble(std::string_view latin1);

// The window title, unscrambled (Latin-1 text).
std::string ProgramTitle();

// The About text, built anew: "v 1.0.0.5", three CR LF, the first About
// line, CR LF, the second About line (Latin-1 text).
std::string AboutText();

}  // namespace pictovance
