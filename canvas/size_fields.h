// The size fields and Set: reading numbers from field texts, normalising the
// fields after every change, the preset label, and Set's bookkeeping.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "generator/form.h"

namespace pictovance {

// Largest value a size field holds (its four characters).
inline constexpr std::int32_t kMaxFieldValue = 9999;

// Reads the longest leading part of text that is a number, blanks, tabs and
// line feeds ignored anywhere: an optional sign, digits with at most one
// decimal point and an optional exponent (E or D, optional sign, digits), or
// &H with hexadecimal digits, or &O with octal digits. No such part reads as
// 0. The value is truncated toward zero; beyond a double's range it is the
// largest double of its sign (never infinity).
double ReadNumber(std::string_view text);

// The text a size field holds after a change: the plain decimal form of the
// number read, "0" for a negative value, and 9999 for anything above 9999.
std::string NormaliseFieldText(std::string_view text);

// The preset label: button 1 (left) gives "800" and "400", button 2 (right)
// "0" and "0"; any other button leaves both texts as they are.
void ApplyPreset(int button, std::string& widthText, std::string& heightText);

// Set: unless Busy, drops every source and the result, clears the preview,
// the status line and the counter, and takes the canvas size from the two
// field texts (FixedSize when both are non-zero).
void Set(FormState& state, Form& form, std::string_view widthText, std::string_view heightText);

// "<CanvasW>x<CanvasH>".
std::string ResolutionCaption(const FormState& state);

}  // namespace pictovance
