#include "app/status_errors.h"

#include <cerrno>

namespace pictovance {

namespace {

const char* SystemCause(int systemError) {
  switch (systemError) {
    case EROFS:
      return "folder is read-only";
    case ENOSPC:
    case EDQUOT:
      return "disk is full";
    case EACCES:
    case EPERM:
      return "no permission";
    case ENOENT:
    case ENOTDIR:
      return "folder not found";
    case ENAMETOOLONG:
      return "name too long";
    case ENOMEM:
      return "not enough memory";
    case EIO:
      return "disk read or write failed";
    default:
      return nullptr;
  }
}

const char* KindOfFailure(int number) {
  switch (number) {
    case kErrorOutOfMemory:
      return "not enough memory";
    case kErrorFileNotFound:
      return "file not found";
    case kErrorFileAccess:
      return "file cannot be read";
    case kErrorNotAnImage:
      return "not a picture";
    case kErrorTooLarge:
      return "picture too large";
    case kErrorDecodeFailed:
      return "picture is damaged";
    case kErrorWriteFailed:
      return "picture not saved";
    case kErrorColourReduction:
      return "colour reduction failed";
    case kErrorInvalidArgument:
      return "invalid value";
    case kErrorFolderNotOpened:
      return "no file manager";
    default:
      return "command failed";
  }
}

}  // namespace

QString ShortErrorText(const ImageError& error) {
  const char* cause = SystemCause(error.SystemError());
  if (cause == nullptr) cause = KindOfFailure(error.Number());
  return QStringLiteral("Error: ") + QString::fromLatin1(cause);
}

QString FullErrorText(const ImageError& error) {
  return QStringLiteral("Error: ") + QString::fromStdString(error.Description());
}

ImageError FolderNotOpened(const std::string& folder) {
  return ImageError(kErrorFolderNotOpened,
                    "No program could open the folder " + folder + " (is a file manager installed?)");
}

}  // namespace pictovance
