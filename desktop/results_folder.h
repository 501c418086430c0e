// Where the window saves pictures. The program's own folder while it can be
// written to (a build folder, a portable copy), as the results folder has
// always been; otherwise, as for an installed program whose folder belongs
// to the system, "Pictovance" inside the user's pictures folder.
//
// What it does not promise: that the folder chosen can still be written
// when the picture is written; Save reports that like any failed write.
#pragma once

#include <filesystem>

namespace pictovance {

// The folder Save writes into now, for a program kept in programFolder.
std::filesystem::path ResultsFolderFor(const std::filesystem::path& programFolder);

// Creates folder and its parents where missing. Raises ImageError with the
// system's reason when it cannot.
void MakeResultsFolder(const std::filesystem::path& folder);

}  // namespace pictovance
