// The recipe of a picture: everything that decides its pixels (its own
// seed, the canvas size, whether the finishing pass ran, where its colours
// came from), written into its PNG file as text chunks so that the picture
// can be painted again, and read back from there.
//
// Every picture is painted from a generator of its own, seeded with the
// picture's seed; nothing else draws from it. A recipe names source
// pictures by their files' SHA-256, not by their pixels: painting such a
// picture again needs the same files. Only a pasted picture, which had no
// file, is named by its pixels: any file that decodes to them will do.
//
// Text keys of format 1: "Software", "Creation Time", and the program's own
// "Pictovance recipe" (the format number), "Pictovance seed", "Pictovance
// size" (WxH as painted), "Pictovance effects" (yes or no), "Pictovance
// colours" ("palette" or "N sources"), then for sources "Pictovance back
// colour" (what a read outside a source gives, decimal 0x00BBGGRR) and
// "Pictovance source 1" to N ("fitted to WxH" or "free within WxH", the
// byte count, the SHA-256 and the file name; for a picture pasted without a
// file, "pasted" and the SHA-256 of its pixels, PictureSha256). "Pictovance
// painted size"
// (WxH of the picture itself, which a source of the size's proportions but
// larger keeps) is written beside the size; recipes without it are read.
//
// Reading is strict: each key at most once, every value in the range its
// command-line option or its origin allows (sides 1 to 9999 where the size
// fields set them), and errors quote values cut short, their unprintable
// bytes escaped.
//
// What it does not promise: that another version of the painting code
// paints the same pixels from a recipe, or that a recipe of a newer format
// can be read.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "app_info.h"
#include "generator/form.h"
#include "generator/random.h"
#include "imaging/image.h"

namespace pictovance {

inline constexpr int kRecipeVersion = 1;

struct Recipe {
  int version = kRecipeVersion;
  std::string software = std::string("Pictovance ") + kProgramVersion;
  std::string created;  // RFC 3339 local time
  std::uint64_t seed = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  std::int32_t paintedWidth = 0;  // 0 in recipes written before it was recorded
  std::int32_t paintedHeight = 0;
  bool effects = false;
  std::vector<SourceFile> sources;  // empty for a palette picture
  Colour backColour = 0;            // used only with sources

  bool operator==(const Recipe&) const = default;
};

// A PNG without a recipe, a recipe of a newer format or a malformed one.
class RecipeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The recipe that GeneratePicture follows for this state and form with a
// generator seeded with seed, stamped with the current time.
Recipe RecipeFor(const FormState& state, const Form& form, std::uint64_t seed);

TextEntries RecipeTexts(const Recipe& recipe);
// Raises RecipeError when texts hold no recipe, a newer format, or a value
// that cannot be read.
Recipe ParseRecipe(const TextEntries& texts);
// A few readable lines, each ending in a line break.
std::string DescribeRecipe(const Recipe& recipe);

// How much of a value a message quotes (imaging/source_file.h's
// ReadableName escapes and cuts it).
inline constexpr std::size_t kMessageChars = 64;

// Paints a picture as GeneratePicture does, from a generator seeded with
// seed alone, and attaches its recipe to state.Result. Returns the recipe,
// or nullopt when Busy kept the picture from being painted.
std::optional<Recipe> PaintPicture(FormState& state, Form& form, std::uint64_t seed);

// Paints the picture of seed, saves it with its recipe under a fresh result
// name whose digits come from names, releases it and returns the path
// written. Image errors propagate.
std::filesystem::path PaintAndSave(FormState& state, Form& form, std::uint64_t seed,
                                   const std::filesystem::path& folder, Random& names);

}  // namespace pictovance
