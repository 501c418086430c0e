#include "canvas/result_file.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "tests/canvas/test_files.h"

namespace pictovance {
namespace {

using testing::TempFolder;
namespace fs = std::filesystem;

struct DateCase {
  int year, month, day, hour, minute, second;
  std::int64_t seconds;
};
std::ostream& operator<<(std::ostream& out, const DateCase& c) {
  return out << c.year << '-' << c.month << '-' << c.day << ' ' << c.hour << ':' << c.minute << ':'
             << c.second;
}

class SecondsSince1899Test : public ::testing::TestWithParam<DateCase> {};

TEST_P(SecondsSince1899Test, CountsWallClockSeconds) {
  const DateCase& c = GetParam();
  std::tm local{};
  local.tm_year = c.year - 1900;
  local.tm_mon = c.month - 1;
  local.tm_mday = c.day;
  local.tm_hour = c.hour;
  local.tm_min = c.minute;
  local.tm_sec = c.second;
  EXPECT_EQ(SecondsSince1899(local), c.seconds);
}

INSTANTIATE_TEST_SUITE_P(
    Dates, SecondsSince1899Test,
    ::testing::Values(DateCase{1899, 12, 30, 0, 0, 0, 0}, DateCase{1899, 12, 31, 0, 0, 0, 86400},
                      DateCase{1900, 1, 1, 0, 0, 0, 172800},
                      // 1900 was no leap year: 28 February is followed by 1 March.
                      DateCase{1900, 2, 28, 0, 0, 0, 5184000}, DateCase{1900, 3, 1, 0, 0, 0, 5270400},
                      DateCase{1970, 1, 1, 0, 0, 0, 2209161600}, DateCase{2000, 1, 1, 0, 0, 0, 3155846400},
                      DateCase{2000, 2, 29, 12, 0, 0, 3160987200},
                      DateCase{2024, 2, 29, 12, 34, 56, 3918371696},
                      DateCase{2100, 3, 1, 23, 59, 59, 6316790399}));

TEST(SecondsSince1899Now, IsTheLocalClockNow) {
  const auto local = [](std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return SecondsSince1899(tm);
  };
  const std::time_t before = std::time(nullptr);
  const std::int64_t now = SecondsSince1899Now();
  const std::time_t after = std::time(nullptr);
  EXPECT_GE(now, local(before));
  EXPECT_LE(now, local(after));
  EXPECT_GE(std::to_string(now).size(), 10u);
}

struct NameCase {
  std::int64_t seconds;
  int first, second;
  const char* name;
};
std::ostream& operator<<(std::ostream& out, const NameCase& c) { return out << c.name; }

class ResultFileNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(ResultFileNameTest, SecondsDashTwoUpperCaseDigits) {
  EXPECT_EQ(ResultFileName(GetParam().seconds, GetParam().first, GetParam().second), GetParam().name);
}

INSTANTIATE_TEST_SUITE_P(Names, ResultFileNameTest,
                         ::testing::Values(NameCase{3155846400, 0, 15, "3155846400-0F"},
                                           NameCase{0, 0, 0, "0-00"},
                                           NameCase{3918371696, 10, 11, "3918371696-AB"},
                                           NameCase{3918371696, 9, 12, "3918371696-9C"},
                                           NameCase{3918371696, 15, 15, "3918371696-FF"}));

// u values that RandomInt(15) turns into the digit d.
double Digit(int d) { return (d + 0.5) / 16.0; }

class SaveResultPictureTest : public ::testing::Test {
 protected:
  TempFolder folder;
  Random rng{3};
};

TEST_F(SaveResultPictureTest, WritesAPngAtCompression8UnderAFreshName) {
  Image picture;
  testing::FillPattern(picture, 21, 13);
  picture.SetSaveFormat(0);
  picture.SetSavePNGCompression(1);
  rng.Script({Digit(12), Digit(3)});
  const std::int64_t before = SecondsSince1899Now();
  const fs::path written = SaveResultPicture(picture, folder.path(), rng);
  const std::int64_t after = SecondsSince1899Now();

  EXPECT_EQ(picture.SaveFormat(), 3);
  EXPECT_EQ(picture.SavePNGCompression(), 8);
  EXPECT_EQ(written.parent_path(), folder.path());
  const std::string name = written.filename().string();
  EXPECT_TRUE(name == ResultFileName(before, 12, 3) + ".png" || name == ResultFileName(after, 12, 3) + ".png")
      << name;
  EXPECT_EQ(folder.Names(), std::vector<std::string>{name});
  EXPECT_EQ(testing::ReadBytes(written.string()).substr(0, 8), "\x89PNG\r\n\x1a\n");
  Image loaded;
  loaded.LoadBitmap(written.string());
  EXPECT_TRUE(testing::PixelsMatch(loaded, picture, 0, 0));
}

TEST_F(SaveResultPictureTest, DrawsTheDigitsAgainWhenTheNameIsTaken) {
  Image picture;
  picture.CreateBitmap(5, 5, 0);
  rng.Script({Digit(0), Digit(0), Digit(0), Digit(0), Digit(1), Digit(0)});
  const fs::path first = SaveResultPicture(picture, folder.path(), rng);
  const fs::path second = SaveResultPicture(picture, folder.path(), rng);
  EXPECT_NE(first, second);
  EXPECT_TRUE(std::string_view(first.filename().string()).ends_with("-00.png"));
  // Within one second the second save meets "-00" taken and draws "10";
  // a new second frees "-00" again.
  const std::string secondName = second.filename().string();
  EXPECT_TRUE(secondName.ends_with("-10.png") || secondName.ends_with("-00.png")) << secondName;
  EXPECT_EQ(folder.Names().size(), 2u);
}

// Publishes a small file under the next free name; returns the name.
std::string ClaimOne(ResultNames& names, const fs::path& folder, Random& rng) {
  NewFile file(folder, "x", 1);
  return names.Claim(folder, rng, [&](const std::string& name) { return file.PublishAs(name); })
      .filename()
      .string();
}

// Two writers in one folder, on a clock that stands still: the first 256
// names of the second have two digits, later ones three, none is claimed
// twice, and the next second's names sort after all of them.
TEST(ResultNamesTest, NeverRunOutAndKeepSortingByTime) {
  TempFolder folder;
  constexpr std::int64_t kSecond = 3918371696;
  constexpr int kPerWriter = 300;
  std::vector<std::string> claimed[2];
  {
    std::vector<std::jthread> writers;
    for (int w = 0; w < 2; ++w) {
      writers.emplace_back([&, w] {
        ResultNames names([] { return kSecond; });
        Random rng(static_cast<std::uint64_t>(w));
        for (int k = 0; k < kPerWriter; ++k) claimed[w].push_back(ClaimOne(names, folder.path(), rng));
      });
    }
  }
  std::vector<std::string> all = claimed[0];
  all.insert(all.end(), claimed[1].begin(), claimed[1].end());
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, folder.Names());
  EXPECT_EQ(std::adjacent_find(all.begin(), all.end()), all.end()) << "a name was claimed twice";
  const std::regex twoDigits(std::to_string(kSecond) + "-[0-9A-F]{2}\\.png");
  const std::regex threeDigits(std::to_string(kSecond) + "-[0-9A-F]{3}\\.png");
  EXPECT_EQ(std::count_if(all.begin(), all.end(),
                          [&](const std::string& n) { return std::regex_match(n, twoDigits); }),
            256);
  EXPECT_EQ(std::count_if(all.begin(), all.end(),
                          [&](const std::string& n) { return std::regex_match(n, threeDigits); }),
            2 * kPerWriter - 256);
  // Each writer moves to three digits only once two are all taken.
  for (const auto& names : claimed) {
    const auto firstLong = std::find_if(
        names.begin(), names.end(), [&](const std::string& n) { return std::regex_match(n, threeDigits); });
    EXPECT_TRUE(std::all_of(firstLong, names.end(),
                            [&](const std::string& n) { return std::regex_match(n, threeDigits); }));
  }

  ResultNames later([] { return kSecond + 1; });
  Random rng(9);
  const std::string next = ClaimOne(later, folder.path(), rng);
  EXPECT_TRUE(std::regex_match(next, std::regex(std::to_string(kSecond + 1) + "-[0-9A-F]{2}\\.png"))) << next;
  EXPECT_GT(next, all.back());
}

// However many names of a second are taken, a free one is found: with all
// but one two-digit name taken, that one; with all two-digit names and all
// but one three-digit name taken, that one, wherever it lies in the order.
// The next second starts again from two digits.
struct LastFreeName {
  const char* name;
  bool threeDigitsTaken;  // all but the free one, or none
  std::string free;       // the one name left of those taken
};
std::ostream& operator<<(std::ostream& out, const LastFreeName& c) { return out << c.name; }

class LastFreeNameTest : public ::testing::TestWithParam<LastFreeName> {};

TEST_P(LastFreeNameTest, IsFound) {
  constexpr std::int64_t kSecond = 3918371696;
  const std::string prefix = std::to_string(kSecond) + "-";
  const std::string wanted = prefix + GetParam().free + ".png";
  for (std::uint64_t seed = 0; seed < 4; ++seed) {
    SCOPED_TRACE(seed);
    std::int64_t now = kSecond;
    ResultNames names([&now] { return now; });
    Random rng(seed);
    const auto taken = [&](const std::string& name) {
      const std::size_t digits = name.size() - prefix.size() - 4;
      return name != wanted && (digits == 2 || (digits == 3 && GetParam().threeDigitsTaken));
    };
    const fs::path got = names.Claim("folder", rng, [&](const std::string& name) { return !taken(name); });
    EXPECT_EQ(got, fs::path("folder") / wanted);
    ++now;
    const std::string next = names.Claim("folder", rng, [](const std::string&) { return true; }).filename().string();
    EXPECT_TRUE(std::regex_match(next, std::regex(std::to_string(kSecond + 1) + "-[0-9A-F]{2}\\.png"))) << next;
  }
}

INSTANTIATE_TEST_SUITE_P(Names, LastFreeNameTest,
                         ::testing::Values(LastFreeName{"FirstTwoDigitName", false, "00"},
                                           LastFreeName{"LastTwoDigitName", false, "FF"},
                                           LastFreeName{"FirstThreeDigitName", true, "000"},
                                           LastFreeName{"MiddleThreeDigitName", true, "7A3"},
                                           LastFreeName{"LastThreeDigitName", true, "FFF"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(SaveResultPictureTest, AFailedWriteLeavesNoFile) {
  Image empty;  // no bitmap: the image object refuses to write it
  EXPECT_THROW(SaveResultPicture(empty, folder.path(), rng), ImageError);
  EXPECT_TRUE(folder.Names().empty());
}

TEST_F(SaveResultPictureTest, AFolderThatCannotBeWrittenRaisesAWriteError) {
  testing::WriteBytes(folder.File("plain"), "x");
  Image picture;
  picture.CreateBitmap(5, 5, 0);
  try {
    SaveResultPicture(picture, folder.path() / "plain" / "sub", rng);
    ADD_FAILURE() << "no error raised";
  } catch (const ImageError& error) {
    EXPECT_EQ(error.Number(), kErrorWriteFailed);
    EXPECT_FALSE(error.Description().empty());
  }
}

}  // namespace
}  // namespace pictovance
