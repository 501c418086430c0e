#include "tools/render/again.h"

#include <map>
#include <system_error>

#include "canvas/recipe.h"
#include "canvas/size_fields.h"
#include "canvas/sources.h"
#include "generator/headless_form.h"
#include "imaging/picture_file.h"
#include "imaging/source_file.h"
#include "tools/render/batch.h"

namespace pictovance::render {

namespace {

constexpr int kExitFailure = 1;
constexpr int kExitRefused = 2;

// A request that cannot be followed; its text is the whole error line.
struct Refusal {
  std::string message;
};

// Names from a recipe or the command line, quoted and made safe to print.
std::string Quoted(const std::string& text) { return "\"" + ReadableName(text, 255) + "\""; }

Recipe ReadRecipe(const std::string& file) {
  try {
    return ParseRecipe(ReadPngTexts(file));
  } catch (const ImageError& error) {
    throw Refusal{error.Description()};
  } catch (const RecipeError& error) {
    throw Refusal{Quoted(file) + ": " + error.what()};
  }
}

// The files given for the recipe's sources, in the recipe's order.
std::vector<std::string> MatchSources(const Recipe& recipe, const std::vector<std::string>& given) {
  std::map<std::string, std::string> byHash;
  std::map<std::string, std::string> byName;
  for (const std::string& path : given) {
    try {
      byHash.emplace(FileSha256(path), path);
    } catch (const ImageError& error) {
      throw Refusal{"cannot use the source " + Quoted(path) + ": " + error.Description()};
    }
    byName.emplace(ReadableName(std::filesystem::path(path).filename().string()), path);
  }
  // A pasted source had no file: any given file that decodes to its pixels
  // is it. Decoded only when the recipe has one.
  std::map<std::string, std::string> byPixels;
  const auto hasPasted = [&recipe] {
    for (const SourceFile& source : recipe.sources) {
      if (source.pasted) return true;
    }
    return false;
  };
  if (hasPasted()) {
    for (const std::string& path : given) {
      try {
        Image picture;
        picture.LoadBitmap(path);
        byPixels.emplace(PictureSha256(picture.GetPicture()), path);
      } catch (const ImageError&) {
        // Not a picture: it cannot be the pasted one.
      }
    }
  }
  std::vector<std::string> paths;
  for (std::size_t k = 0; k < recipe.sources.size(); ++k) {
    const SourceFile& source = recipe.sources[k];
    if (source.pasted) {
      const auto found = byPixels.find(source.sha256);
      if (found == byPixels.end()) {
        throw Refusal{"source " + std::to_string(k + 1) +
                      " of the recipe, a picture pasted without a file (" + source.name +
                      ", pixels SHA-256 " + source.sha256 +
                      "), is missing: save it as a file and give it with --source"};
      }
      paths.push_back(found->second);
    } else if (const auto found = byHash.find(source.sha256); found != byHash.end()) {
      paths.push_back(found->second);
    } else if (const auto named = byName.find(source.name); named != byName.end()) {
      throw Refusal{"the source " + Quoted(named->second) + " has changed since the picture was painted" +
                    " (its SHA-256 is not the recipe's " + source.sha256 + ")"};
    } else {
      throw Refusal{"source " + std::to_string(k + 1) + " of the recipe, " + Quoted(source.name) + " (" +
                    std::to_string(source.bytes) + " bytes, SHA-256 " + source.sha256 +
                    "), is missing: give it with --source"};
    }
  }
  return paths;
}

void Load(FormState& state, Form& form, const std::string& path) {
  std::string problem;
  if (LoadSourcePicture(state, form, path, problem) != 0) {
    throw Refusal{"cannot use the source " + Quoted(path) + ": " + problem};
  }
}

void PrepareFolder(const std::filesystem::path& folder) {
  if (const std::string problem = PrepareOutFolder(folder); !problem.empty()) throw Refusal{problem};
}

}  // namespace

int PrintRecipe(const std::string& file, std::ostream& out, std::ostream& err) {
  try {
    out << DescribeRecipe(ReadRecipe(file));
    return 0;
  } catch (const Refusal& refusal) {
    err << "pictovance-render: " << refusal.message << "\n";
    return kExitRefused;
  }
}

int PaintAgain(const AgainRequest& request, std::ostream& out, std::ostream& err) {
  try {
    const Recipe recipe = ReadRecipe(request.file);
    if (recipe.sources.empty() && !request.sources.empty()) {
      throw Refusal{Quoted(request.file) + " was painted from a random palette: --source does not apply"};
    }
    const std::vector<std::string> sources = MatchSources(recipe, request.sources);
    const auto [width, height] = request.size.value_or(std::make_pair(recipe.width, recipe.height));

    HeadlessForm form(recipe.effects);
    FormState state;
    if (request.size || sources.empty()) {
      // Another size: the sources are fitted or set the size as they would
      // for a fresh run at that size.
      Set(state, form, std::to_string(width), std::to_string(height));
      for (const std::string& path : sources) Load(state, form, path);
    } else {
      // Each source meets the canvas size it met when it was loaded.
      for (std::size_t k = 0; k < sources.size(); ++k) {
        const SourceFile& source = recipe.sources[k];
        if (k == 0) Set(state, form, "0", "0");
        state.FixedSize = source.fitted;
        state.CanvasW = source.limitW;
        state.CanvasH = source.limitH;
        Load(state, form, sources[k]);
      }
      state.CanvasW = recipe.width;
      state.CanvasH = recipe.height;
    }
    for (Image& source : state.Sources) source.SetBackColor(std::to_string(recipe.backColour));
    PrepareFolder(request.out);

    Random names = Random::FromClock();
    out << PaintAndSave(state, form, recipe.seed, request.out, names).string() << std::endl;
    return 0;
  } catch (const Refusal& refusal) {
    err << "pictovance-render: " << refusal.message << "\n";
    return kExitRefused;
  } catch (const ImageError& error) {
    err << "pictovance-render: " << error.Description() << "\n";
    return kExitFailure;
  }
}

}  // namespace pictovance::render
