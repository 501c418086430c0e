// What a picture file says about itself beyond its pixels: the text chunks
// of a PNG file, and the SHA-256 of any file's bytes, which names a source
// picture whatever the file is called (or of a picture's pixels, for one
// without a file).
//
// What it does not promise: text from formats other than PNG, or a check
// that the pixels of a PNG decode (only its signature and its text chunks
// are read).
#pragma once

#include <string>
#include <string_view>

#include "imaging/image.h"

namespace pictovance {

// The text chunks of the PNG file at path, in the order Qt reports them.
// Only a regular file is read (imaging/source_file.h). Errors:
// kErrorFileNotFound, kErrorFileAccess, kErrorNotAnImage (the file does not
// start with the PNG signature), kErrorDecodeFailed.
TextEntries ReadPngTexts(const std::string& path);

// The SHA-256 of the file's bytes as 64 lower-case hexadecimal digits.
// Only a regular file is read. Errors: kErrorFileNotFound, kErrorFileAccess.
std::string FileSha256(const std::string& path);

// The SHA-256 of a picture's pixels as 64 lower-case hexadecimal digits:
// of its size as the text "WxH\n", then of each pixel's red, green and blue
// bytes, row by row from the top left. The same pixels give the same
// digits whatever file held them; this names a picture that came without a
// file (pasted from the clipboard). A null picture hashes as "0x0\n".
std::string PictureSha256(const Picture& picture);
// The same for bytes already read.
std::string BytesSha256(std::string_view bytes);

}  // namespace pictovance
