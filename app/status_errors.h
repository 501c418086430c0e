// Failed commands in the status line. The line is 238 pixels wide, too
// narrow for a path and a system message, so it shows "Error: " and a few
// words naming the cause ("Error: disk is full"); the full description
// waits in its tooltip.
//
// What it does not promise: a distinct text for every cause. Causes without
// words of their own share one by kind of failure ("Error: picture not
// saved").
#pragma once

#include <QString>
#include <string>

#include "imaging/image.h"

namespace pictovance {

// "Error: " and the cause in a few words: from the system's errno where a
// system call failed, else from the error number.
QString ShortErrorText(const ImageError& error);

// "Error: " and the whole description, path and system message included.
QString FullErrorText(const ImageError& error);

// The error of a folder that no program could open (no file manager).
inline constexpr int kErrorFolderNotOpened = 901;
ImageError FolderNotOpened(const std::string& folder);

}  // namespace pictovance
