#include "canvas/recipe.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <sstream>

#include "canvas/result_file.h"
#include "canvas/whole_number.h"
#include "generator/driver.h"
#include "imaging/source_file.h"

namespace pictovance {

namespace {

constexpr char kSoftwareKey[] = "Software";
constexpr char kCreatedKey[] = "Creation Time";
constexpr char kVersionKey[] = "Pictovance recipe";
constexpr char kSeedKey[] = "Pictovance seed";
constexpr char kSizeKey[] = "Pictovance size";
constexpr char kPaintedSizeKey[] = "Pictovance painted size";
constexpr char kEffectsKey[] = "Pictovance effects";
constexpr char kColoursKey[] = "Pictovance colours";
constexpr char kBackColourKey[] = "Pictovance back colour";
constexpr char kSourceKey[] = "Pictovance source ";

// The driver's size for a dimension below 1.
constexpr std::int32_t kDefaultWidth = 800;
constexpr std::int32_t kDefaultHeight = 400;
// The largest side the size fields and --size take.
constexpr std::int32_t kMaxFieldSide = 9999;
// Colours are 0x00BBGGRR.
constexpr Colour kMaxColour = 0xFFFFFF;

std::string NowRfc3339() {
  const std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  char text[40];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S%z", &local);
  std::string stamp(text);
  if (stamp.size() >= 2) stamp.insert(stamp.size() - 2, ":");  // +0100 -> +01:00
  return stamp;
}

std::string SizeText(std::int32_t width, std::int32_t height) {
  return std::to_string(width) + "x" + std::to_string(height);
}

RecipeError Malformed(const std::string& key, const std::string& value) {
  return RecipeError("the recipe's \"" + key + "\" cannot be read: \"" + ReadableName(value, kMessageChars) +
                     "\"");
}

// What a size read from a recipe may be: sides set by the size fields are
// 1 to 9999, sides a source picture set (0 in a limit where none was set
// yet) are bounded as loaded pictures are, by their area.
struct SizeRange {
  std::int32_t minSide;
  std::int64_t maxSide;
};
constexpr SizeRange kFieldSize{1, kMaxFieldSide};
constexpr SizeRange kPictureSize{1, kMaxLoadPixels};
constexpr SizeRange kPictureLimit{0, kMaxLoadPixels};

std::optional<std::pair<std::int32_t, std::int32_t>> ParseSize(std::string_view text, SizeRange range) {
  const auto x = text.find('x');
  if (x == std::string_view::npos) return std::nullopt;
  const auto w = ParseWhole<std::int32_t>(text.substr(0, x));
  const auto h = ParseWhole<std::int32_t>(text.substr(x + 1));
  if (!w || !h || *w < range.minSide || *h < range.minSide || *w > range.maxSide || *h > range.maxSide ||
      std::int64_t{*w} * *h > kMaxLoadPixels) {
    return std::nullopt;
  }
  return std::make_pair(*w, *h);
}

std::string SourceText(const SourceFile& source) {
  const std::string origin = source.pasted
                                 ? "pasted, pixels SHA-256 " + source.sha256
                                 : std::to_string(source.bytes) + " bytes, SHA-256 " + source.sha256;
  return std::string(source.fitted ? "fitted to " : "free within ") + SizeText(source.limitW, source.limitH) +
         ", " + origin + ", " + source.name;
}

// "fitted to WxH, N bytes, SHA-256 H, NAME", or for a pasted picture
// "fitted to WxH, pasted, pixels SHA-256 H, NAME"; the name is last because
// it may hold anything, commas included.
std::optional<SourceFile> ParseSource(std::string_view text) {
  SourceFile source;
  std::string_view parts[3];
  for (auto& part : parts) {
    const auto comma = text.find(", ");
    if (comma == std::string_view::npos) return std::nullopt;
    part = text.substr(0, comma);
    text.remove_prefix(comma + 2);
  }
  source.name = std::string(text);
  std::string_view size = parts[0];
  if (size.starts_with("fitted to ")) {
    source.fitted = true;
    size.remove_prefix(10);
  } else if (size.starts_with("free within ")) {
    size.remove_prefix(12);
  } else {
    return std::nullopt;
  }
  const auto limit = ParseSize(size, source.fitted ? kFieldSize : kPictureLimit);
  if (!limit) return std::nullopt;
  std::optional<std::uint64_t> bytes;
  if (parts[1] == "pasted" && parts[2].starts_with("pixels SHA-256 ")) {
    source.pasted = true;
    bytes = 0;
    source.sha256 = std::string(parts[2].substr(15));
  } else if (parts[1].ends_with(" bytes") && parts[2].starts_with("SHA-256 ")) {
    bytes = ParseWhole<std::uint64_t>(parts[1].substr(0, parts[1].size() - 6));
    source.sha256 = std::string(parts[2].substr(8));
  }
  if (!bytes || source.sha256.size() != 64 ||
      source.sha256.find_first_not_of("0123456789abcdef") != std::string::npos) {
    return std::nullopt;
  }
  source.bytes = *bytes;
  source.limitW = limit->first;
  source.limitH = limit->second;
  return source;
}

}  // namespace

Recipe RecipeFor(const FormState& state, const Form& form, std::uint64_t seed) {
  Recipe recipe;
  recipe.created = NowRfc3339();
  recipe.seed = seed;
  recipe.width = state.CanvasW < 1 ? kDefaultWidth : state.CanvasW;
  recipe.height = state.CanvasH < 1 ? kDefaultHeight : state.CanvasH;
  recipe.effects = form.SpecialEffectsTicked();
  if (state.SourceCount > 0) {
    recipe.sources = state.SourceFiles;
    recipe.sources.resize(state.Sources.size());
    recipe.backColour = state.Sources.front().BackColor();
  }
  return recipe;
}

TextEntries RecipeTexts(const Recipe& recipe) {
  TextEntries texts = {
      {kSoftwareKey, recipe.software},
      {kCreatedKey, recipe.created},
      {kVersionKey, std::to_string(recipe.version)},
      {kSeedKey, std::to_string(recipe.seed)},
      {kSizeKey, SizeText(recipe.width, recipe.height)},
      {kEffectsKey, recipe.effects ? "yes" : "no"},
      {kColoursKey, recipe.sources.empty() ? "palette" : std::to_string(recipe.sources.size()) + " sources"},
  };
  if (recipe.paintedWidth > 0 && recipe.paintedHeight > 0) {
    texts.emplace_back(kPaintedSizeKey, SizeText(recipe.paintedWidth, recipe.paintedHeight));
  }
  if (!recipe.sources.empty()) texts.emplace_back(kBackColourKey, std::to_string(recipe.backColour));
  for (std::size_t k = 0; k < recipe.sources.size(); ++k) {
    texts.emplace_back(kSourceKey + std::to_string(k + 1), SourceText(recipe.sources[k]));
  }
  return texts;
}

Recipe ParseRecipe(const TextEntries& texts) {
  // A key given twice is refused rather than one of its values chosen:
  // PNG tools differ in which they show.
  for (std::size_t k = 0; k < texts.size(); ++k) {
    const std::string& key = texts[k].first;
    if (!key.starts_with("Pictovance ") && key != kSoftwareKey && key != kCreatedKey) continue;
    for (std::size_t later = k + 1; later < texts.size(); ++later) {
      if (texts[later].first == key) {
        throw RecipeError("the recipe gives \"" + ReadableName(key, kMessageChars) + "\" more than once");
      }
    }
  }
  const auto find = [&texts](const std::string& key) -> const std::string* {
    for (const auto& [k, v] : texts) {
      if (k == key) return &v;
    }
    return nullptr;
  };
  const auto need = [&find](const std::string& key) -> const std::string& {
    const std::string* value = find(key);
    if (value == nullptr) throw RecipeError("the recipe has no \"" + key + "\"");
    return *value;
  };

  const std::string* versionText = find(kVersionKey);
  if (versionText == nullptr) throw RecipeError("no Pictovance recipe in this picture");
  Recipe recipe;
  const auto version = ParseWhole<int>(*versionText);
  if (!version || *version < 1) throw Malformed(kVersionKey, *versionText);
  if (*version > kRecipeVersion) {
    throw RecipeError("the recipe is of format " + *versionText + ", newer than this program reads (" +
                      std::to_string(kRecipeVersion) + ")");
  }
  recipe.version = *version;
  if (const std::string* software = find(kSoftwareKey)) recipe.software = *software;
  if (const std::string* created = find(kCreatedKey)) recipe.created = *created;

  const std::string& seedText = need(kSeedKey);
  const auto seed = ParseWhole<std::uint64_t>(seedText);
  if (!seed) throw Malformed(kSeedKey, seedText);
  recipe.seed = *seed;

  const std::string& sizeText = need(kSizeKey);
  const std::string& effects = need(kEffectsKey);
  if (effects != "yes" && effects != "no") throw Malformed(kEffectsKey, effects);
  recipe.effects = effects == "yes";

  if (const std::string* painted = find(kPaintedSizeKey)) {
    const auto size = ParseSize(*painted, kPictureSize);
    if (!size) throw Malformed(kPaintedSizeKey, *painted);
    recipe.paintedWidth = size->first;
    recipe.paintedHeight = size->second;
  }

  const std::string& colours = need(kColoursKey);
  if (colours != "palette") {
    const auto count = colours.ends_with(" sources")
                           ? ParseWhole<std::size_t>(std::string_view(colours).substr(0, colours.size() - 8))
                           : std::nullopt;
    if (!count || *count < 1) throw Malformed(kColoursKey, colours);
    const std::string& backText = need(kBackColourKey);
    const auto back = ParseWhole<Colour>(backText);
    if (!back || *back < 0 || *back > kMaxColour) throw Malformed(kBackColourKey, backText);
    recipe.backColour = *back;
    for (std::size_t k = 1; k <= *count; ++k) {
      const std::string key = kSourceKey + std::to_string(k);
      const std::string& text = need(key);
      const auto source = ParseSource(text);
      if (!source) throw Malformed(key, text);
      recipe.sources.push_back(*source);
    }
  }

  // Only a source picture free to set the size makes it larger than the
  // size fields can.
  const bool fieldsSetTheSize =
      std::all_of(recipe.sources.begin(), recipe.sources.end(), [](const SourceFile& s) { return s.fitted; });
  const auto size = ParseSize(sizeText, fieldsSetTheSize ? kFieldSize : kPictureSize);
  if (!size) throw Malformed(kSizeKey, sizeText);
  recipe.width = size->first;
  recipe.height = size->second;
  return recipe;
}

std::string DescribeRecipe(const Recipe& recipe) {
  std::ostringstream out;
  out << "painted by " << ReadableName(recipe.software, kMessageChars)
      << (recipe.created.empty() ? "" : " at " + ReadableName(recipe.created, kMessageChars))
      << ", recipe format " << recipe.version << "\n";
  out << "seed " << recipe.seed << "\n";
  out << "size " << SizeText(recipe.width, recipe.height);
  if (recipe.paintedWidth > 0 &&
      (recipe.paintedWidth != recipe.width || recipe.paintedHeight != recipe.height)) {
    out << ", painted " << SizeText(recipe.paintedWidth, recipe.paintedHeight);
  }
  out << "\n";
  out << "finishing pass " << (recipe.effects ? "yes" : "no") << "\n";
  if (recipe.sources.empty()) {
    out << "colours from a random palette\n";
    return out.str();
  }
  out << "colours from " << recipe.sources.size() << " source pictures (outside them colour "
      << recipe.backColour << ")\n";
  for (std::size_t k = 0; k < recipe.sources.size(); ++k) {
    const SourceFile& s = recipe.sources[k];
    out << "source " << k + 1 << ": " << ReadableName(s.name, 255) << ", "
        << (s.pasted ? "pasted, pixels SHA-256 " : std::to_string(s.bytes) + " bytes, SHA-256 ") << s.sha256
        << ", " << (s.fitted ? "fitted to " : "free within ") << SizeText(s.limitW, s.limitH) << "\n";
  }
  return out.str();
}

std::optional<Recipe> PaintPicture(FormState& state, Form& form, std::uint64_t seed) {
  if (state.Busy) return std::nullopt;
  Recipe recipe = RecipeFor(state, form, seed);
  Random rng(seed);
  GeneratePicture(state, form, rng);
  if (!state.Result) return std::nullopt;
  recipe.paintedWidth = state.Result->Width();
  recipe.paintedHeight = state.Result->Height();
  state.Result->SetTexts(RecipeTexts(recipe));
  return recipe;
}

std::filesystem::path PaintAndSave(FormState& state, Form& form, std::uint64_t seed,
                                   const std::filesystem::path& folder, Random& names) {
  PaintPicture(state, form, seed);
  if (!state.Result) throw ImageError(kErrorWriteFailed, "No picture was painted");
  const std::filesystem::path path = SaveResultPicture(*state.Result, folder, names);
  state.Result.reset();
  return path;
}

}  // namespace pictovance
