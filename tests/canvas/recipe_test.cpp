#include "canvas/recipe.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ostream>
#include <string>
#include <vector>

#include "imaging/picture_file.h"
#include "tests/canvas/test_files.h"

namespace pictovance {
namespace {

using testing::TempFolder;

Recipe PaletteRecipe() {
  Recipe recipe;
  recipe.created = "2026-12-07T15:00:00+01:00";
  recipe.seed = 18446744073709551615ull;
  recipe.width = 800;
  recipe.height = 400;
  recipe.effects = true;
  return recipe;
}

Recipe SourcesRecipe() {
  Recipe recipe = PaletteRecipe();
  recipe.seed = 0;
  recipe.width = 1;
  recipe.height = 9999;
  recipe.effects = false;
  recipe.backColour = 15790320;
  const std::string hash(64, 'a');
  // A name with the separator inside and letters beyond Latin-1.
  recipe.sources = {{"wide, again.png", 1234, hash, true, 800, 400},
                    {"\xC3\xA9t\xC3\xA9 \xE2\x98\x80.jpg", 0, std::string(63, '0') + "f", false, 0, 700}};
  return recipe;
}

// A picture pasted without a file, named by its pixels, after a file.
Recipe PastedRecipe() {
  Recipe recipe = SourcesRecipe();
  SourceFile pasted{"pasted picture 640x480", 0, std::string(64, 'c'), true, 800, 400};
  pasted.pasted = true;
  recipe.sources[1] = pasted;
  return recipe;
}

// A source free to set the size makes a canvas larger than the size fields
// allow, and a source of the size's proportions keeps its own larger size.
Recipe LargeSourceRecipe() {
  Recipe recipe = PaletteRecipe();
  recipe.width = 12000;
  recipe.height = 50;
  recipe.paintedWidth = 24000;
  recipe.paintedHeight = 100;
  recipe.sources = {{"strip.png", 99, std::string(64, 'b'), false, 0, 0}};
  return recipe;
}

struct NamedRecipe {
  const char* name;
  Recipe (*make)();
};
std::ostream& operator<<(std::ostream& out, const NamedRecipe& r) { return out << r.name; }

class RecipeFile : public ::testing::TestWithParam<NamedRecipe> {};

TEST_P(RecipeFile, ComesBackFromThePngItWasSavedIn) {
  const Recipe recipe = GetParam().make();
  TempFolder folder;
  Image picture;
  picture.CreateBitmap(3, 2, 0x123456);
  picture.SetTexts(RecipeTexts(recipe));
  picture.SaveBitmap(folder.File("picture.png"));
  EXPECT_EQ(ParseRecipe(ReadPngTexts(folder.File("picture.png"))), recipe);
}

INSTANTIATE_TEST_SUITE_P(Recipes, RecipeFile,
                         ::testing::Values(NamedRecipe{"Palette", &PaletteRecipe},
                                           NamedRecipe{"Sources", &SourcesRecipe},
                                           NamedRecipe{"Pasted", &PastedRecipe},
                                           NamedRecipe{"LargeSource", &LargeSourceRecipe}),
                         [](const auto& info) { return std::string(info.param.name); });

struct BadValue {
  const char* key;
  const char* value;
};
std::ostream& operator<<(std::ostream& out, const BadValue& v) { return out << v.key << " = " << v.value; }

class RecipeRefuses : public ::testing::TestWithParam<BadValue> {};

TEST_P(RecipeRefuses, AValueItCannotRead) {
  TextEntries texts = RecipeTexts(SourcesRecipe());
  bool replaced = false;
  for (auto& [key, value] : texts) {
    if (key == GetParam().key) {
      value = GetParam().value;
      replaced = true;
    }
  }
  ASSERT_TRUE(replaced) << GetParam().key;
  EXPECT_THROW(ParseRecipe(texts), RecipeError);
}

INSTANTIATE_TEST_SUITE_P(
    Values, RecipeRefuses,
    ::testing::Values(BadValue{"Pictovance recipe", "2"}, BadValue{"Pictovance recipe", "one"},
                      BadValue{"Pictovance seed", "-1"}, BadValue{"Pictovance seed", "18446744073709551616"},
                      BadValue{"Pictovance size", "0x400"}, BadValue{"Pictovance effects", "maybe"},
                      BadValue{"Pictovance colours", "3 sources"}, BadValue{"Pictovance back colour", ""},
                      BadValue{"Pictovance source 1", "fitted to 800x400, 12 bytes, SHA-256 abc, a.png"},
                      BadValue{"Pictovance source 2", "somewhere, 12 bytes"},
                      BadValue{"Pictovance source 2", "free within 0x700, pasted, pixels SHA-256 abc, x"}));

// Values the renderer's options would refuse, keys given twice, and values
// no message should echo whole or raw.
struct Tampering {
  const char* name;
  Recipe (*base)();
  const char* key;
  std::string value;  // replaces the key's value, or is added beside the recipe's own keys
  bool added;
  const char* says;   // in the message
};
std::ostream& operator<<(std::ostream& out, const Tampering& t) { return out << t.name; }

class RecipeMessage : public ::testing::TestWithParam<Tampering> {};

TEST_P(RecipeMessage, RefusesInOneShortPrintableLine) {
  const Tampering& t = GetParam();
  TextEntries texts = RecipeTexts(t.base());
  if (t.added) {
    texts.emplace_back(t.key, t.value);
  } else {
    const auto entry = std::find_if(texts.begin(), texts.end(), [&](const auto& e) { return e.first == t.key; });
    ASSERT_NE(entry, texts.end()) << t.key;
    entry->second = t.value;
  }
  try {
    ParseRecipe(texts);
    ADD_FAILURE() << "accepted";
  } catch (const RecipeError& error) {
    const std::string message = error.what();
    EXPECT_NE(message.find(t.says), std::string::npos) << message;
    EXPECT_LE(message.size(), 200u) << message;
    EXPECT_TRUE(std::all_of(message.begin(), message.end(),
                            [](char c) { return static_cast<unsigned char>(c) >= 0x20 && c != 0x7F; }))
        << message;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, RecipeMessage,
    ::testing::Values(
        Tampering{"SideBeyondTheSizeFields", &PaletteRecipe, "Pictovance size", "10000x1", false, "10000x1"},
        Tampering{"SizeFarBeyond", &PaletteRecipe, "Pictovance size", "99999x99999", false, "Pictovance size"},
        Tampering{"FittedToMoreThanTheFieldsTake", &SourcesRecipe, "Pictovance source 1",
                  "fitted to 800x10000, 1234 bytes, SHA-256 " + std::string(64, 'a') + ", a.png", false,
                  "Pictovance source 1"},
        Tampering{"FreeSourceBeyondAnyPicture", &SourcesRecipe, "Pictovance size", "70000x70000", false,
                  "70000x70000"},
        Tampering{"PaintedSizeEmpty", &PaletteRecipe, "Pictovance painted size", "0x400", true, "painted size"},
        Tampering{"BackColourBeyondColours", &SourcesRecipe, "Pictovance back colour", "16777216", false,
                  "back colour"},
        Tampering{"SeedGivenTwice", &PaletteRecipe, "Pictovance seed", "5", true, "\"Pictovance seed\" more than once"},
        Tampering{"SourceGivenTwice", &SourcesRecipe, "Pictovance source 2",
                  "free within 0x700, 0 bytes, SHA-256 " + std::string(64, 'c') + ", other.png", true,
                  "more than once"},
        Tampering{"LongValue", &PaletteRecipe, "Pictovance seed", std::string(100000, '9'), false,
                  "(100000 bytes in all)"},
        Tampering{"UnprintableValue", &PaletteRecipe, "Pictovance effects", "\x1B[2J\xFF\xC3(\xED\xA0\x80", false,
                  "\"\\x1B[2J\\xFF\\xC3(\\xED\\xA0\\x80\""}),
    [](const auto& info) { return std::string(info.param.name); });

// A source's SHA-256, of its file or of a pasted picture's pixels, is read
// only as 64 lower-case hexadecimal digits, as it is written.
struct HashShape {
  const char* name;
  std::string hash;
  bool read;
};
std::ostream& operator<<(std::ostream& out, const HashShape& h) { return out << h.name; }

class RecipeHashTest : public ::testing::TestWithParam<HashShape> {};

TEST_P(RecipeHashTest, IsReadOnlyAs64LowerCaseHexDigits) {
  const std::string& hash = GetParam().hash;
  const std::pair<const char*, std::string> sources[] = {
      {"of a file", "fitted to 800x400, 1234 bytes, SHA-256 " + hash + ", a.png"},
      {"of pasted pixels", "fitted to 800x400, pasted, pixels SHA-256 " + hash + ", pasted picture"}};
  for (const auto& [what, value] : sources) {
    SCOPED_TRACE(what);
    TextEntries texts = RecipeTexts(SourcesRecipe());
    for (auto& [key, text] : texts) {
      if (key == "Pictovance source 1") text = value;
    }
    if (GetParam().read) {
      EXPECT_EQ(ParseRecipe(texts).sources.at(0).sha256, hash);
    } else {
      EXPECT_THROW(ParseRecipe(texts), RecipeError);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, RecipeHashTest,
    ::testing::Values(HashShape{"SixtyFourDigits", "0123456789abcdef" + std::string(48, 'f'), true},
                      HashShape{"SixtyThreeDigits", std::string(63, 'a'), false},
                      HashShape{"SixtyFiveDigits", std::string(65, 'a'), false},
                      HashShape{"UpperCase", std::string(63, 'a') + "A", false},
                      HashShape{"NotHex", "g" + std::string(63, '0'), false},
                      HashShape{"WithASpace", std::string(63, '0') + " ", false},
                      HashShape{"Empty", "", false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Recipe, WithoutItsVersionThereIsNone) {
  TextEntries texts = RecipeTexts(PaletteRecipe());
  std::erase_if(texts, [](const auto& entry) { return entry.first == "Pictovance recipe"; });
  EXPECT_THROW(ParseRecipe(texts), RecipeError);
  EXPECT_THROW(ParseRecipe({{"Software", "something else"}}), RecipeError);
}

}  // namespace
}  // namespace pictovance
