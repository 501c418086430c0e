// Where the window saves pictures. An installed program saves into
// "Pictovance" inside the user's pictures folder, whoever runs it (root
// too): its folder belongs to the system or to the package manager, and
// pictures left there would outlive the program's removal. A program kept
// elsewhere (a build folder, a portable copy) saves into its own folder
// while that can be written to, as the results folder has always been, and
// into the pictures folder otherwise.
//
// Installed means kept under a system folder (/usr, /opt, /bin, /sbin,
// /lib and its variants, /snap), or in the bin folder of an install prefix,
// recognised by the program's desktop entry in share/applications beside
// it (`cmake --install --prefix ~/.local`).
//
// What it does not promise: that the folder chosen can still be written
// when the picture is written; Save reports that like any failed write.
#pragma once

#include <filesystem>

namespace pictovance {

// True when programFolder holds an installed copy of the program.
bool IsInstalledProgramFolder(const std::filesystem::path& programFolder);

// The folder Save writes into now, for a program kept in programFolder.
std::filesystem::path ResultsFolderFor(const std::filesystem::path& programFolder);

// Creates folder and its parents where missing. Raises ImageError with the
// system's reason when it cannot.
void MakeResultsFolder(const std::filesystem::path& folder);

}  // namespace pictovance
