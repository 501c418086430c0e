// Reading a whole number from text that must hold nothing else: the
// renderer's options and the values of a recipe are read this way, so
// "12", and never "12px", " 12" or "", counts as twelve.
//
// What it does not promise: a sign for unsigned types, or any base but ten.
#pragma once

#include <charconv>
#include <optional>
#include <string_view>
#include <system_error>

namespace pictovance {

// The whole text as a number of type T, or nothing when the text is empty,
// holds anything else, or does not fit T.
template <class T>
std::optional<T> ParseWhole(std::string_view text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc() || end != text.data() + text.size()) return std::nullopt;
  return value;
}

}  // namespace pictovance
