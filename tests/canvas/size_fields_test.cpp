#include "canvas/size_fields.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <ostream>
#include <random>
#include <string>

#include "tests/canvas/fake_form.h"

namespace pictovance {
namespace {

using testing::FakeForm;

// --- Reading a number -------------------------------------------------------

struct ReadCase {
  const char* text;
  double value;
};
std::ostream& operator<<(std::ostream& out, const ReadCase& c) {
  out << '"';
  // Blanks of every kind written as escapes: a test's name stays one line.
  for (const char* p = c.text; *p != '\0'; ++p) {
    if (*p == '\t') {
      out << "\\t";
    } else if (*p == '\n') {
      out << "\\n";
    } else if (static_cast<unsigned char>(*p) < 0x20) {
      out << "\\x" << std::hex << static_cast<int>(*p) << std::dec;
    } else {
      out << *p;
    }
  }
  return out << "\" -> " << c.value;
}

class ReadNumberTest : public ::testing::TestWithParam<ReadCase> {};

TEST_P(ReadNumberTest, ReadsTheLeadingNumberTruncated) {
  EXPECT_EQ(ReadNumber(GetParam().text), GetParam().value);
}

INSTANTIATE_TEST_SUITE_P(Decimal, ReadNumberTest,
                         ::testing::Values(ReadCase{"", 0}, ReadCase{"0", 0}, ReadCase{"12a", 12},
                                           ReadCase{"1.9", 1}, ReadCase{"-1.9", -1}, ReadCase{"007", 7},
                                           ReadCase{"+5", 5}, ReadCase{"-7", -7}, ReadCase{"-0.5", 0},
                                           ReadCase{"1.2.3", 1}, ReadCase{".5", 0}, ReadCase{"5.", 5},
                                           ReadCase{"12.75", 12}, ReadCase{"1,5", 1}, ReadCase{"abc", 0},
                                           ReadCase{"a12", 0}, ReadCase{"--5", 0}, ReadCase{"+-5", 0},
                                           ReadCase{"0.99999999999999999999", 0},
                                           ReadCase{"99999999999999999999", 1e20}));

INSTANTIATE_TEST_SUITE_P(Exponent, ReadNumberTest,
                         ::testing::Values(ReadCase{"1e3", 1000}, ReadCase{"1E3", 1000}, ReadCase{"1d2", 100},
                                           ReadCase{"1D2", 100}, ReadCase{"1e+3", 1000}, ReadCase{"25e-1", 2},
                                           ReadCase{"1.25e1", 12}, ReadCase{"12.5e1", 125},
                                           ReadCase{".5e1", 5}, ReadCase{"1E-0", 1}, ReadCase{"1e3x", 1000},
                                           ReadCase{"1e3.5", 1000}, ReadCase{"1e3e4", 1000},
                                           // An exponent without digits is not part of the number.
                                           ReadCase{"1e", 1}, ReadCase{"1e+", 1}, ReadCase{"1D-", 1},
                                           ReadCase{"7ex", 7}, ReadCase{"e5", 0}, ReadCase{".e5", 0},
                                           ReadCase{"9e99", 9e99}, ReadCase{"-9e99", -9e99},
                                           ReadCase{"1e-400", 0}, ReadCase{"1e-99999999999999999999999", 0},
                                           // Beyond a double's range: the largest double, never infinity.
                                           ReadCase{"1e400", DBL_MAX}, ReadCase{"-1e400", -DBL_MAX},
                                           ReadCase{"1e99999999999999999999999", DBL_MAX},
                                           ReadCase{"0e99999", 0}, ReadCase{"0.001e3", 1},
                                           ReadCase{"0.00099e3", 0}));

INSTANTIATE_TEST_SUITE_P(HexAndOctal, ReadNumberTest,
                         ::testing::Values(ReadCase{"&HFF", 255}, ReadCase{"&hff", 255},
                                           ReadCase{"&Hff", 255}, ReadCase{"&HFFG", 255},
                                           ReadCase{"&H10", 16}, ReadCase{"&HFFFFFFFFFF", 1099511627775.0},
                                           ReadCase{"&O17", 15}, ReadCase{"&o17", 15}, ReadCase{"&O178", 15},
                                           ReadCase{"&H", 0}, ReadCase{"&h", 0}, ReadCase{"&O", 0},
                                           ReadCase{"&O8", 0}, ReadCase{"&", 0}, ReadCase{"&X1", 0},
                                           ReadCase{"&HG", 0}, ReadCase{"-&H10", 0}, ReadCase{"&H1.5", 1}));

INSTANTIATE_TEST_SUITE_P(BlanksAnywhere, ReadNumberTest,
                         ::testing::Values(ReadCase{" 1 2 ", 12}, ReadCase{"\t1\n2", 12}, ReadCase{"- 7", -7},
                                           ReadCase{"1 e 3", 1000}, ReadCase{"& H F F", 255},
                                           ReadCase{"1 . 9 e 1", 19}, ReadCase{"   ", 0},
                                           // A carriage return is not a blank: it ends the number.
                                           ReadCase{"1\r2", 1}));

TEST(ReadNumberLimits, HugeHexSaturatesAtTheLargestDouble) {
  EXPECT_EQ(ReadNumber("&H" + std::string(300, 'F')), DBL_MAX);
}

TEST(ReadNumberLimits, LongDigitStringsAreReadWhole) {
  EXPECT_EQ(ReadNumber(std::string(5000, '0') + "42"), 42);
  EXPECT_EQ(ReadNumber("0." + std::string(5000, '0') + "1e5001"), 1);
  EXPECT_EQ(ReadNumber(std::string(400, '9')), DBL_MAX);
}

// --- Field normalisation ----------------------------------------------------

struct FieldCase {
  const char* text;
  const char* normal;
};
std::ostream& operator<<(std::ostream& out, const FieldCase& c) {
  return out << '"' << c.text << "\" -> \"" << c.normal << '"';
}

class NormaliseFieldTest : public ::testing::TestWithParam<FieldCase> {};

TEST_P(NormaliseFieldTest, GivesPlainDecimalInRange) {
  EXPECT_EQ(NormaliseFieldText(GetParam().text), GetParam().normal);
}

INSTANTIATE_TEST_SUITE_P(
    Table, NormaliseFieldTest,
    ::testing::Values(FieldCase{"", "0"}, FieldCase{"-", "0"}, FieldCase{"-7", "0"}, FieldCase{"-0.5", "0"},
                      FieldCase{"12a", "12"}, FieldCase{"1.9", "1"}, FieldCase{"007", "7"},
                      FieldCase{"1e3", "1000"}, FieldCase{"&HFF", "255"}, FieldCase{"&O17", "15"},
                      FieldCase{" 8 0 0 ", "800"}, FieldCase{"9999", "9999"}, FieldCase{"9999.9", "9999"},
                      FieldCase{"10000", "9999"}, FieldCase{"9e99", "9999"}, FieldCase{"1e400", "9999"},
                      FieldCase{"-1e400", "0"}, FieldCase{"&HFFFF", "9999"}, FieldCase{"abc", "0"}));

TEST(NormaliseFieldTextProperty, OutputIsANormalFieldTextOfItself) {
  // Random texts over the characters that matter to the reader.
  const std::string alphabet = "0123456789+-.eEdD&hHoOaFx \t\n";
  std::mt19937 gen(20240607);
  std::uniform_int_distribution<std::size_t> pick(0, alphabet.size() - 1);
  std::uniform_int_distribution<int> length(0, 12);
  for (int round = 0; round < 20000; ++round) {
    std::string text;
    for (int k = length(gen); k > 0; --k) text += alphabet[pick(gen)];
    SCOPED_TRACE("text \"" + text + "\"");
    const std::string normal = NormaliseFieldText(text);
    ASSERT_EQ(NormaliseFieldText(normal), normal);
    ASSERT_FALSE(normal.empty());
    ASSERT_LE(normal.size(), 4u);
    ASSERT_EQ(normal.find_first_not_of("0123456789"), std::string::npos);
    ASSERT_TRUE(normal == "0" || normal[0] != '0');
  }
}

// --- Preset label -----------------------------------------------------------

struct PresetCase {
  int button;
  const char* width;
  const char* height;
};
std::ostream& operator<<(std::ostream& out, const PresetCase& c) {
  return out << "button " << c.button << " -> " << c.width << ", " << c.height;
}

class PresetTest : public ::testing::TestWithParam<PresetCase> {};

TEST_P(PresetTest, FillsTheFields) {
  std::string width = "123";
  std::string height = "45";
  ApplyPreset(GetParam().button, width, height);
  EXPECT_EQ(width, GetParam().width);
  EXPECT_EQ(height, GetParam().height);
}

INSTANTIATE_TEST_SUITE_P(Buttons, PresetTest,
                         ::testing::Values(PresetCase{1, "800", "400"}, PresetCase{2, "0", "0"},
                                           PresetCase{0, "123", "45"}, PresetCase{3, "123", "45"},
                                           PresetCase{4, "123", "45"}, PresetCase{-1, "123", "45"}));

// --- Set --------------------------------------------------------------------

class SetTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (int k = 0; k < 2; ++k) {
      state.Sources.emplace_back();
      state.Sources.back().CreateBitmap(30, 20, 0x123456);
    }
    state.SourceCount = 2;
    state.Result.emplace();
    state.Result->CreateBitmap(30, 20, 0x654321);
    state.CanvasW = 30;
    state.CanvasH = 20;
    state.FixedSize = false;
  }

  FormState state;
  FakeForm form;
};

TEST_F(SetTest, ResetsEverythingInOrder) {
  Set(state, form, "800", "400");
  EXPECT_EQ(form.log,
            (std::vector<std::string>{"count:Files loaded: 0", "show:null", "res:800x400", "status:"}));
  EXPECT_TRUE(state.Sources.empty());
  EXPECT_EQ(state.SourceCount, 0);
  EXPECT_EQ(state.CanvasW, 800);
  EXPECT_EQ(state.CanvasH, 400);
  EXPECT_TRUE(state.FixedSize);
  EXPECT_FALSE(state.Result.has_value());
  EXPECT_FALSE(state.Busy);
}

TEST_F(SetTest, DoesNothingWhileBusy) {
  state.Busy = true;
  Set(state, form, "800", "400");
  EXPECT_TRUE(form.log.empty());
  EXPECT_EQ(state.Sources.size(), 2u);
  EXPECT_EQ(state.SourceCount, 2);
  EXPECT_EQ(state.CanvasW, 30);
  EXPECT_EQ(state.CanvasH, 20);
  EXPECT_FALSE(state.FixedSize);
  EXPECT_TRUE(state.Result.has_value());
  EXPECT_TRUE(state.Busy);
}

struct SizeCase {
  const char* width;
  const char* height;
  std::int32_t canvasW;
  std::int32_t canvasH;
  bool fixed;
};
std::ostream& operator<<(std::ostream& out, const SizeCase& c) {
  return out << '"' << c.width << "\", \"" << c.height << '"';
}

class SetSizeTest : public ::testing::TestWithParam<SizeCase> {};

TEST_P(SetSizeTest, TakesTheSizeAndModeFromTheTexts) {
  FormState state;
  FakeForm form;
  const SizeCase& c = GetParam();
  Set(state, form, c.width, c.height);
  EXPECT_EQ(state.CanvasW, c.canvasW);
  EXPECT_EQ(state.CanvasH, c.canvasH);
  EXPECT_EQ(state.FixedSize, c.fixed);
  EXPECT_EQ(form.resCaption, std::to_string(c.canvasW) + "x" + std::to_string(c.canvasH));
  EXPECT_EQ(ResolutionCaption(state), form.resCaption);
}

INSTANTIATE_TEST_SUITE_P(
    Fields, SetSizeTest,
    ::testing::Values(SizeCase{"800", "400", 800, 400, true}, SizeCase{"0", "400", 0, 400, false},
                      SizeCase{"800", "0", 800, 0, false}, SizeCase{"0", "0", 0, 0, false},
                      SizeCase{"1", "1", 1, 1, true}, SizeCase{"9999", "9999", 9999, 9999, true},
                      // Texts the window would have normalised first still land in 0..9999.
                      SizeCase{"12a", "1.9", 12, 1, true}, SizeCase{"99999", "400", 9999, 400, true},
                      SizeCase{"9e99", "&H10", 9999, 16, true}, SizeCase{"-5", "400", 0, 400, false},
                      SizeCase{"1e400", "-1e400", 9999, 0, false}, SizeCase{"", "", 0, 0, false}));

}  // namespace
}  // namespace pictovance
