#include "imaging/new_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <string>
#include <vector>

#include "imaging/image.h"
#include "tests/canvas/test_files.h"
#include "tests/full_disk.h"

namespace pictovance {

void PrintTo(NewFile::Way way, std::ostream* out) {
  *out << (way == NewFile::Way::kAutomatic ? "unnamed" : "hidden temporary");
}

namespace {

using testing::ReadBytes;
using testing::TempFolder;
using Way = NewFile::Way;

class NewFileTest : public ::testing::TestWithParam<Way> {};

// The file has no visible name until it is published, never takes a name
// that exists, and what appears under its name is the whole of it.
TEST_P(NewFileTest, AppearsCompleteUnderAFreeNameOnly) {
  TempFolder folder;
  testing::WriteBytes(folder.File("taken.png"), "old");
  const std::string data(300000, 'p');
  NewFile file(folder.path(), data.data(), data.size(), GetParam());
  for (const std::string& name : folder.Names()) {
    EXPECT_TRUE(name == "taken.png" || (GetParam() == Way::kHiddenTemporary && name.starts_with(kTemporaryPrefix)))
        << name << " is visible before the file is complete";
  }
  EXPECT_FALSE(file.PublishAs("taken.png"));
  EXPECT_EQ(ReadBytes(folder.File("taken.png")), "old");
  EXPECT_TRUE(file.PublishAs("fresh.png"));
  EXPECT_EQ(ReadBytes(folder.File("fresh.png")), data);
  // For everyone to read, whatever the umask or mkostemp's private mode.
  EXPECT_EQ(std::filesystem::status(folder.File("fresh.png")).permissions(),
            std::filesystem::perms(0644));
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"fresh.png", "taken.png"}));
  EXPECT_THROW(file.PublishAs("again.png"), ImageError);

  NewFile dropped(folder.path(), "x", 1, GetParam());
  NewFile replacing(folder.path(), "new", 3, GetParam());
  replacing.ReplaceAs("taken.png");
  EXPECT_EQ(ReadBytes(folder.File("taken.png")), "new");
  {
    NewFile moved = std::move(dropped);
  }  // never published: gone without a trace
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{"fresh.png", "taken.png"}));
}

// On a full disk nothing is left, and the cause is the system's: whether
// the first write fails, or a file larger than the disk's 64 KB fills it
// and its write comes back short.
TEST_P(NewFileTest, AFullDiskRaisesItsErrorAndLeavesNothing) {
  for (const auto& [start, bytes] : {std::pair{testing::FullDisk::Start::kFull, 20000},
                                    std::pair{testing::FullDisk::Start::kEmpty, 300000}}) {
    SCOPED_TRACE(std::to_string(bytes) + " bytes");
    testing::FullDisk disk(start);
    if (!disk.Mounted()) GTEST_SKIP() << disk.Reason();
    const std::string data(static_cast<std::size_t>(bytes), 'p');
    try {
      NewFile file(disk.path(), data.data(), data.size(), GetParam());
      ADD_FAILURE() << "a full disk took the file";
    } catch (const ImageError& error) {
      EXPECT_EQ(error.SystemError(), ENOSPC) << error.Description();
    }
    EXPECT_TRUE(disk.Others().empty());
  }
}

INSTANTIATE_TEST_SUITE_P(Ways, NewFileTest, ::testing::Values(Way::kAutomatic, Way::kHiddenTemporary),
                         [](const auto& info) {
                           return std::string(info.param == Way::kAutomatic ? "Unnamed" : "HiddenTemporary");
                         });

// A hidden file whose writer died is removed; one a live writer holds
// locked stays, whether that writer is this process or another.
TEST(RemoveStaleTemporaries, RemovesOnlyFilesNoLiveWriterHolds) {
  TempFolder folder;
  const std::string stale = std::string(kTemporaryPrefix) + "Stale1";
  const std::string held = std::string(kTemporaryPrefix) + "Held22";
  const std::string other = std::string(kTemporaryPrefix) + "longer-name";
  for (const std::string& name : {stale, held, other}) testing::WriteBytes(folder.File(name), "part");
  const int holder = ::open(folder.File(held).c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(holder, 0);
  ASSERT_EQ(::flock(holder, LOCK_EX), 0);
  NewFile live(folder.path(), "live", 4, Way::kHiddenTemporary);  // its own sweep removes stale
  EXPECT_FALSE(live.Unnamed());
  RemoveStaleTemporaries(folder.path());

  std::vector<std::string> names = folder.Names();
  EXPECT_EQ(std::count(names.begin(), names.end(), stale), 0);
  EXPECT_EQ(std::count(names.begin(), names.end(), held), 1);
  EXPECT_EQ(std::count(names.begin(), names.end(), other), 1) << "not a name this program makes";
  EXPECT_EQ(names.size(), 3u) << "the live writer's file is gone";
  EXPECT_TRUE(live.PublishAs("done.png"));
  EXPECT_EQ(ReadBytes(folder.File("done.png")), "live");
  ::close(holder);
  RemoveStaleTemporaries(folder.path());
  EXPECT_EQ(folder.Names(), (std::vector<std::string>{other, "done.png"}));
}

}  // namespace
}  // namespace pictovance
