// The renderer's way back to a saved picture: --recipe shows the recipe a
// PNG file carries, --again paints that picture again under a new name.
//
// Source pictures are found among the files given by their SHA-256, in any
// order; a pasted source, by the SHA-256 of the pixels a file decodes to.
// Nothing is written unless every check passed.
#pragma once

#include <filesystem>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace pictovance::render {

struct AgainRequest {
  std::string file;                         // the PNG whose recipe is painted
  std::vector<std::string> sources;         // files that may hold the recipe's sources
  std::optional<std::pair<int, int>> size;  // another canvas size, else the recipe's
  std::filesystem::path out = ".";
};

// Exit statuses: 0 done, 1 an image could not be painted or written, 2 the
// request cannot be followed (no recipe, a newer one, a missing or changed
// source, an unusable folder); every failure is one line on err.
int PrintRecipe(const std::string& file, std::ostream& out, std::ostream& err);
int PaintAgain(const AgainRequest& request, std::ostream& out, std::ostream& err);

}  // namespace pictovance::render
