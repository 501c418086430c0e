// Putting a finished file into a folder in one step.
//
// The bytes are written, and flushed to the disk, into a file of the target
// folder that has no name yet; only then is it given its name. Whoever lists
// the folder sees either nothing or the complete file, never a part of it,
// and a process killed at any moment leaves no part behind. A name is taken
// only if no file has it: the file system decides between writers racing
// for one name, so two processes never overwrite each other's files.
//
// Where the file system can make unnamed files (O_TMPFILE: ext4, XFS,
// Btrfs, tmpfs and most others), the file is linked into place with linkat.
// Elsewhere it is first written under a hidden name (".pictovance-tmp-"
// and six random characters) held locked by its writer, and renamed into
// place without replacing (renameat2 with RENAME_NOREPLACE, or link and
// unlink where that is not supported). A writer killed there leaves its
// hidden file; the next writer in that folder removes every such file that
// no live writer holds locked.
//
// What it does not promise: that the folder's entry itself survives a
// power cut (the folder is not flushed), or atomicity on file systems that
// lack both hard links and RENAME_NOREPLACE.
#pragma once

#include <cstddef>
#include <filesystem>
#include <span>
#include <string>
#include <vector>

namespace pictovance {

class NewFile {
 public:
  enum class Way {
    kAutomatic,       // an unnamed file where the file system has them
    kHiddenTemporary  // always the hidden, locked named file (as where it has none)
  };

  // Writes size bytes of data into folder, flushed to the disk, under no
  // name yet. Raises ImageError (kErrorWriteFailed, with the system's error
  // number) when the folder cannot take them; nothing is left behind then.
  NewFile(const std::filesystem::path& folder, const char* data, std::size_t size,
          Way way = Way::kAutomatic);
  // The same for a file made in pieces, written one after the other.
  NewFile(const std::filesystem::path& folder, const std::vector<std::span<const char>>& pieces,
          Way way = Way::kAutomatic);
  // A file never published disappears.
  ~NewFile();
  NewFile(NewFile&& other) noexcept;
  NewFile& operator=(NewFile&&) = delete;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;

  // Gives the file the name (a file name in the folder, no path) unless the
  // name exists already: then false, and another name may be tried. Raises
  // ImageError for any other failure, and when the file was published
  // before.
  bool PublishAs(const std::string& name);
  // Puts the file under name, replacing any file of that name in one step.
  void ReplaceAs(const std::string& name);

  // Whether the file is still without a name of its own (for tests).
  bool Unnamed() const { return m_temporary.empty(); }

 private:
  void Release() noexcept;

  std::filesystem::path m_folder;
  int m_fd = -1;
  std::filesystem::path m_temporary;  // the hidden name, when the file has one
  bool m_published = false;
};

// Removes the hidden files of writers that ended before publishing (a
// kill -9, a power cut) from folder; the files of live writers stay. Each
// writer making a hidden file runs this once per folder and process.
void RemoveStaleTemporaries(const std::filesystem::path& folder);

// The prefix of the hidden names.
inline constexpr char kTemporaryPrefix[] = ".pictovance-tmp-";

}  // namespace pictovance
