#include "canvas/about_text.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <utility>

namespace pictovance {
namespace {

class UnscrambleKeyTest : public ::testing::TestWithParam<std::pair<std::size_t, int>> {};

// Zero bytes come back as the key itself.
TEST_P(UnscrambleKeyTest, KeyDependsOnTheLengthOnly) {
  const auto [length, key] = GetParam();
  const std::string scrambled = Unscramble(std::string(length, '\0'));
  ASSERT_EQ(scrambled.size(), length);
  for (const char c : scrambled) ASSERT_EQ(static_cast<unsigned char>(c), key);
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, UnscrambleKeyTest,
    ::testing::Values(std::pair<std::size_t, int>{0, 1}, std::pair<std::size_t, int>{1, 1},
                      std::pair<std::size_t, int>{2, 3}, std::pair<std::size_t, int>{3, 3},
                      std::pair<std::size_t, int>{8, 9}, std::pair<std::size_t, int>{10, 11},
                      std::pair<std::size_t, int>{28, 29}, std::pair<std::size_t, int>{30, 31},
                      std::pair<std::size_t, int>{31, 31}, std::pair<std::size_t, int>{32, 1},
                      std::pair<std::size_t, int>{33, 1}, std::pair<std::size_t, int>{62, 31},
                      std::pair<std::size_t, int>{300, 13}));

TEST(Unscramble, WorkedExample) {
  EXPECT_EQ(Unscramble("abc"), "ba`");
  EXPECT_EQ(Unscramble("ba`"), "abc");
  EXPECT_EQ(Unscramble(""), "");
  EXPECT_EQ(Unscramble("\xE9"), "\xE8");  // Latin-1 codes above 127 are codes like any other
}

TEST(Unscramble, IsItsOwnInverseAndKeepsEveryCodeInItsBlock) {
  std::mt19937 gen(1701);
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> length(0, 100);
  for (int round = 0; round < 2000; ++round) {
    std::string text;
    for (int k = length(gen); k > 0; --k) text += static_cast<char>(byte(gen));
    SCOPED_TRACE("round " + std::to_string(round) + ", length " + std::to_string(text.size()));
    const std::string scrambled = Unscramble(text);
    ASSERT_EQ(scrambled.size(), text.size());
    ASSERT_EQ(Unscramble(scrambled), text);
    for (std::size_t i = 0; i < text.size(); ++i) {
      ASSERT_EQ(static_cast<unsigned char>(scrambled[i]) & ~31u, static_cast<unsigned char>(text[i]) & ~31u);
    }
  }
}

// Readable text: words of letters with single blanks and light punctuation,
// starting with a capital. A stored text unscrambled with the wrong key or
// mistyped would not pass: blanks and most letters turn into other codes.
::testing::AssertionResult IsReadable(const std::string& line) {
  if (line.empty()) return ::testing::AssertionFailure() << "empty";
  if (line.front() < 'A' || line.front() > 'Z') return ::testing::AssertionFailure() << "\"" << line << "\"";
  if (line.find(' ') == std::string::npos)
    return ::testing::AssertionFailure() << "no blank: \"" << line << "\"";
  for (const char c : line) {
    const bool letter = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
    if (!letter && std::string(" ,.!'-").find(c) == std::string::npos) {
      return ::testing::AssertionFailure()
             << "code " << static_cast<int>(static_cast<unsigned char>(c)) << " in \"" << line << "\"";
    }
  }
  if (line.find("  ") != std::string::npos) return ::testing::AssertionFailure() << "double blank";
  return ::testing::AssertionSuccess();
}

TEST(StoredTexts, TitleIsTheProgramName) { EXPECT_EQ(ProgramTitle(), "Pictovance"); }

TEST(StoredTexts, AboutTextIsVersionTwoEmptyLinesAndTwoLines) {
  const std::string text = AboutText();
  const std::string head = "v 1.0.0.5\r\n\r\n\r\n";
  ASSERT_EQ(text.substr(0, head.size()), head);
  const std::string rest = text.substr(head.size());
  const auto lineBreak = rest.find("\r\n");
  ASSERT_NE(lineBreak, std::string::npos);
  const std::string first = rest.substr(0, lineBreak);
  const std::string second = rest.substr(lineBreak + 2);
  EXPECT_TRUE(IsReadable(first));
  EXPECT_TRUE(IsReadable(second));  // also: nothing after it, no further break
  EXPECT_EQ(AboutText(), text);
}

}  // namespace
}  // namespace pictovance
