#include "canvas/sources.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <ostream>
#include <stdexcept>
#include <string>
#include <vector>

#include "canvas/size_fields.h"
#include "tests/canvas/fake_form.h"
#include "tests/canvas/test_files.h"

namespace pictovance {
namespace {

using testing::FakeForm;
using testing::FillPattern;
using testing::PixelsMatch;
using testing::TempFolder;
using testing::WritePattern;
using testing::WriteSolid;

namespace fs = std::filesystem;
using Log = std::vector<std::string>;

class SourcesTest : public ::testing::Test {
 protected:
  // Set with the two field texts, then forget what Set wrote.
  void SetFields(const char* width, const char* height) {
    Set(state, form, width, height);
    form.log.clear();
  }

  // A pattern picture of the given size written as a file.
  std::string Pattern(int width, int height) {
    return WritePattern(folder.File("p" + std::to_string(++m_files) + ".bmp"), width, height);
  }
  std::string Solid(int width, int height) {
    return WriteSolid(folder.File("s" + std::to_string(++m_files) + ".bmp"), width, height, 0x336699);
  }

  static Image PatternImage(int width, int height) {
    Image image;
    FillPattern(image, width, height);
    return image;
  }

  void ExpectSource(std::size_t index, int width, int height) {
    SCOPED_TRACE("source " + std::to_string(index + 1));
    ASSERT_LT(index, state.Sources.size());
    EXPECT_EQ(state.Sources[index].Width(), width);
    EXPECT_EQ(state.Sources[index].Height(), height);
    EXPECT_EQ(state.Sources[index].BitmapType(), 4);
  }

  TempFolder folder;
  FormState state;
  FakeForm form;

 private:
  int m_files = 0;
};

// --- Free size --------------------------------------------------------------

TEST_F(SourcesTest, FreeSizeTakesTheSmallestLengthPerAxisAndTrimsWithoutScaling) {
  SetFields("0", "0");
  ASSERT_EQ(LoadSourcePicture(state, form, Pattern(1000, 500)), 0);
  EXPECT_EQ(state.CanvasW, 1000);
  EXPECT_EQ(state.CanvasH, 500);
  EXPECT_EQ(form.resCaption, "1000x500");
  ExpectSource(0, 1000, 500);

  ASSERT_EQ(LoadSourcePicture(state, form, Pattern(600, 900)), 0);
  EXPECT_EQ(state.CanvasW, 600);
  EXPECT_EQ(state.CanvasH, 500);
  EXPECT_EQ(form.resCaption, "600x500");
  ExpectSource(0, 600, 500);
  ExpectSource(1, 600, 500);
  // Trimmed about the middle, not scaled.
  EXPECT_TRUE(PixelsMatch(state.Sources[0], PatternImage(1000, 500), 200, 0));
  EXPECT_TRUE(PixelsMatch(state.Sources[1], PatternImage(600, 900), 0, 200));
  EXPECT_EQ(state.SourceCount, 2);
  EXPECT_FALSE(state.FixedSize);
}

TEST_F(SourcesTest, FreeSizeTreatsASetLengthAsAnUpperBound) {
  SetFields("800", "0");
  ASSERT_EQ(LoadSourcePicture(state, form, Pattern(1000, 700)), 0);
  EXPECT_EQ(state.CanvasW, 800);
  EXPECT_EQ(state.CanvasH, 700);
  EXPECT_EQ(form.resCaption, "800x700");
  ExpectSource(0, 800, 700);
  EXPECT_TRUE(PixelsMatch(state.Sources[0], PatternImage(1000, 700), 100, 0));

  ASSERT_EQ(LoadSourcePicture(state, form, Pattern(500, 300)), 0);
  EXPECT_EQ(state.CanvasW, 500);
  EXPECT_EQ(state.CanvasH, 300);
  EXPECT_EQ(form.resCaption, "500x300");
  ExpectSource(0, 500, 300);  // fitted again to the new size
  ExpectSource(1, 500, 300);
  EXPECT_TRUE(PixelsMatch(state.Sources[1], PatternImage(500, 300), 0, 0));
}

TEST_F(SourcesTest, FreeSizeSmallerPictureLowersBothAndIsNotFitted) {
  SetFields("0", "0");
  ASSERT_EQ(LoadSourcePicture(state, form, Pattern(1000, 500)), 0);
  ASSERT_EQ(LoadSourcePicture(state, form, Pattern(300, 200)), 0);
  EXPECT_EQ(state.CanvasW, 300);
  EXPECT_EQ(state.CanvasH, 200);
  ExpectSource(0, 300, 200);
  ExpectSource(1, 300, 200);
  EXPECT_TRUE(PixelsMatch(state.Sources[1], PatternImage(300, 200), 0, 0));

  // A larger picture later changes nothing but itself.
  ASSERT_EQ(LoadSourcePicture(state, form, Pattern(2000, 1000)), 0);
  EXPECT_EQ(state.CanvasW, 300);
  EXPECT_EQ(state.CanvasH, 200);
  EXPECT_EQ(form.resCaption, "300x200");
  ExpectSource(2, 300, 200);
  EXPECT_TRUE(PixelsMatch(state.Sources[1], PatternImage(300, 200), 0, 0));
}

TEST_F(SourcesTest, FreeSizeFailureAfterLoweringKeepsTheLowerSizeAndStoresNothing) {
  SetFields("0", "0");
  ASSERT_EQ(LoadSourcePicture(state, form, Solid(400, 300)), 0);
  form.onResolution = [] { throw std::runtime_error("caption refused"); };
  std::string description;
  EXPECT_EQ(LoadSourcePicture(state, form, Solid(200, 100), description), kErrorLoadInterrupted);
  EXPECT_EQ(description, "caption refused");
  EXPECT_EQ(state.CanvasW, 200);
  EXPECT_EQ(state.CanvasH, 100);
  EXPECT_EQ(state.SourceCount, 1);
  ASSERT_EQ(state.Sources.size(), 1u);
  ExpectSource(0, 200, 100);  // refitted before the failure
  EXPECT_EQ(form.resCaption, "400x300");
}

// --- Fixed size -------------------------------------------------------------

TEST_F(SourcesTest, FixedSizeFitsEveryPictureAndLeavesTheCaption) {
  SetFields("800", "400");
  ASSERT_EQ(LoadSourcePicture(state, form, Solid(1000, 1000)), 0);
  ASSERT_EQ(LoadSourcePicture(state, form, Pattern(400, 200)), 0);
  ExpectSource(0, 800, 400);
  ExpectSource(1, 400, 200);  // the canvas's proportions: kept as it is
  EXPECT_TRUE(PixelsMatch(state.Sources[1], PatternImage(400, 200), 0, 0));
  EXPECT_EQ(state.CanvasW, 800);
  EXPECT_EQ(state.CanvasH, 400);
  EXPECT_TRUE(form.log.empty()) << "first line: " << form.log.front();
  EXPECT_EQ(state.SourceCount, 2);
}

// --- What is stored ---------------------------------------------------------

TEST_F(SourcesTest, PaletteAndOtherFormatsAreStoredInTheWorkingKind) {
  const std::string bmp = testing::WritePaletteBmp(folder.File("grey.bmp"), 40, 30);
  {
    Image loaded;
    loaded.LoadBitmap(bmp);
    ASSERT_EQ(loaded.BitmapType(), 1) << "the palette BMP should load as a palette bitmap";
  }
  SetFields("0", "0");
  ASSERT_EQ(LoadSourcePicture(state, form, bmp), 0);
  ExpectSource(0, 40, 30);
  EXPECT_EQ(state.Sources[0].GetColorAt(3, 5), 8 * 0x010101);

  SetFields("0", "0");
  ASSERT_EQ(LoadSourcePicture(state, form, testing::WriteGif(folder.File("dot.gif"))), 0);
  ExpectSource(0, 1, 1);
  EXPECT_EQ(state.Sources[0].GetColorAt(0, 0), 0xFFFFFF);

  SetFields("0", "0");
  ASSERT_EQ(
      LoadSourcePicture(state, form, WriteSolid(folder.File("solid.jpg"), 50, 20, 0x808080, testing::kJpeg)),
      0);
  ExpectSource(0, 50, 20);
}

// A 200 x 100 drawing, red on its left half and blue on its right, with a
// transparent strip along the top that loads as white and a green one down
// the left edge that a fitted (trimmed) copy would lose. Its bit of text
// needs Qt's fonts, which a program without a window must still reach.
struct DrawingRow {
  const char* width;
  const char* height;
  int storedW, storedH;
};
std::ostream& operator<<(std::ostream& out, const DrawingRow& r) { return out << r.width << "x" << r.height; }

class DrawingSourceTest : public SourcesTest, public ::testing::WithParamInterface<DrawingRow> {};

TEST_P(DrawingSourceTest, IsDrawnAtTheFixedSizeOrItsOwn) {
  const DrawingRow& row = GetParam();
  const std::string path = folder.File("drawing.svg");
  testing::WriteBytes(
      path,
      "<svg xmlns='http://www.w3.org/2000/svg' width='200' height='100' viewBox='0 0 200 100'>"
      "<rect x='0' y='10' width='100' height='90' fill='#ff0000'/>"
      "<rect x='100' y='10' width='100' height='90' fill='#0000ff'/>"
      "<rect x='0' y='10' width='10' height='90' fill='#00ff00'/>"
      "<text x='150' y='8' font-size='6'>text needs fonts</text></svg>");
  SetFields(row.width, row.height);
  ASSERT_EQ(LoadSourcePicture(state, form, path), 0);
  ExpectSource(0, row.storedW, row.storedH);
  const Image& stored = state.Sources[0];
  EXPECT_EQ(stored.GetColorAt(row.storedW / 4, row.storedH * 3 / 4), 0x0000FF);
  EXPECT_EQ(stored.GetColorAt(row.storedW * 3 / 4, row.storedH * 3 / 4), 0xFF0000);
  EXPECT_EQ(stored.GetColorAt(row.storedW / 2, 0), 0xFFFFFF);
  EXPECT_EQ(stored.GetColorAt(1, row.storedH * 3 / 4), 0x00FF00);
}

INSTANTIATE_TEST_SUITE_P(Modes, DrawingSourceTest,
                         ::testing::Values(DrawingRow{"0", "0", 200, 100},      // free: its own size
                                           DrawingRow{"300", "300", 300, 300},  // fixed: drawn at the canvas
                                           DrawingRow{"800", "400", 800, 400}));

TEST_F(SourcesTest, BackColourComesFromThePreviewTag) {
  SetFields("0", "0");
  form.previewTag = "12345";
  ASSERT_EQ(LoadSourcePicture(state, form, Solid(10, 10)), 0);
  EXPECT_EQ(state.Sources[0].BackColor(), 12345);
}

TEST_F(SourcesTest, ATagThatIsNotAColourFailsTheLoad) {
  SetFields("0", "0");
  form.previewTag = "grey";
  EXPECT_EQ(LoadSourcePicture(state, form, Solid(10, 10)), kErrorInvalidArgument);
  EXPECT_TRUE(state.Sources.empty());
  EXPECT_EQ(state.CanvasW, 0);
}

// --- Files that cannot be loaded ----------------------------------------------

struct BadFile {
  const char* name;
  std::string (*make)(const TempFolder&);
  int error;
};
void PrintTo(const BadFile& file, std::ostream* out) { *out << file.name; }

std::string Missing(const TempFolder& folder) { return folder.File("missing.png"); }
std::string Empty(const TempFolder& folder) {
  testing::WriteBytes(folder.File("empty.png"), "");
  return folder.File("empty.png");
}
std::string Folder(const TempFolder& folder) {
  fs::create_directory(folder.path() / "folder.png");
  return folder.File("folder.png");
}
std::string Text(const TempFolder& folder) {
  testing::WriteBytes(folder.File("notes.png"), "hello, this is a shopping list\nmilk\neggs\n");
  return folder.File("notes.png");
}
std::string TruncatedPng(const TempFolder& folder) {
  const std::string path = WritePattern(folder.File("cut.png"), 300, 300, testing::kPng);
  testing::Truncate(path, fs::file_size(path) / 2);
  return path;
}
std::string HeaderOnlyPng(const TempFolder& folder) {
  return testing::WritePngHeader(folder.File("header.png"), 64, 64, false);
}
std::string HugeHeaderPng(const TempFolder& folder) {
  return testing::WritePngHeader(folder.File("huge.png"), 20000, 20000, true);
}
std::string JustOverTheLimitPng(const TempFolder& folder) {
  return testing::WritePngHeader(folder.File("over.png"), 16385, 16384, true);
}
std::string HugeHeaderOnlyPng(const TempFolder& folder) {
  return testing::WritePngHeader(folder.File("huge-header-only.png"), 20000, 20000, false);
}
std::string TruncatedBmp(const TempFolder& folder) {
  const std::string path = WritePattern(folder.File("cut.bmp"), 300, 300, testing::kBmp);
  testing::Truncate(path, fs::file_size(path) / 2);
  return path;
}
std::string TruncatedJpeg(const TempFolder& folder) {
  const std::string path = WritePattern(folder.File("cut.jpg"), 300, 300, testing::kJpeg);
  testing::Truncate(path, fs::file_size(path) / 2);
  return path;
}

class BadFileTest : public SourcesTest, public ::testing::WithParamInterface<BadFile> {};

TEST_P(BadFileTest, LoadReturnsItsErrorAndStoresNothing) {
  SetFields("0", "0");
  const std::string path = GetParam().make(folder);
  std::string description;
  EXPECT_EQ(LoadSourcePicture(state, form, path, description), GetParam().error) << description;
  EXPECT_FALSE(description.empty());
  EXPECT_TRUE(state.Sources.empty());
  EXPECT_EQ(state.SourceCount, 0);
  EXPECT_EQ(state.CanvasW, 0);
  EXPECT_EQ(state.CanvasH, 0);
  EXPECT_TRUE(form.log.empty());
}

TEST_P(BadFileTest, DropSkipsItAndGoesOn) {
  SetFields("800", "400");
  LoadDroppedFiles(state, form,
                   std::vector<std::string>{Solid(80, 40), GetParam().make(folder), Solid(80, 40)});
  EXPECT_EQ(form.log, (Log{"count:Files loaded: 1", "status:...", "events", "count:Files loaded: 2",
                           "status:.", "events", "status:"}));
  EXPECT_EQ(state.SourceCount, 2);
  EXPECT_FALSE(state.Busy);
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, BadFileTest,
    ::testing::Values(BadFile{"Missing", Missing, kErrorFileNotFound},
                      BadFile{"Empty", Empty, kErrorNotAnImage}, BadFile{"Folder", Folder, kErrorFileAccess},
                      BadFile{"TextFile", Text, kErrorNotAnImage},
                      BadFile{"TruncatedPng", TruncatedPng, kErrorDecodeFailed},
                      BadFile{"HeaderOnlyPng", HeaderOnlyPng, kErrorDecodeFailed},
                      BadFile{"HugeHeaderPng", HugeHeaderPng, kErrorTooLarge},
                      BadFile{"JustOverTheLimitPng", JustOverTheLimitPng, kErrorTooLarge},
                      // Qt learns a PNG's size only on reaching its first IDAT chunk, so a
                      // header with nothing after it is a cut-off file, whatever it claims.
                      BadFile{"HugeHeaderOnlyPng", HugeHeaderOnlyPng, kErrorDecodeFailed}),
    [](const ::testing::TestParamInfo<BadFile>& info) { return std::string(info.param.name); });

// Truncated BMP and JPEG files are refused like a truncated PNG, although
// Qt's readers for both hand back what they could read with the rest filled
// in.
class TruncatedFileTest : public SourcesTest, public ::testing::WithParamInterface<BadFile> {};

TEST_P(TruncatedFileTest, IsRefusedAsTruncated) {
  SetFields("0", "0");
  const std::int32_t result = LoadSourcePicture(state, form, GetParam().make(folder));
  EXPECT_EQ(result, GetParam().error);
  EXPECT_TRUE(state.Sources.empty());
}

INSTANTIATE_TEST_SUITE_P(Kinds, TruncatedFileTest,
                         ::testing::Values(BadFile{"TruncatedBmp", TruncatedBmp, kErrorDecodeFailed},
                                           BadFile{"TruncatedJpeg", TruncatedJpeg, kErrorDecodeFailed}),
                         [](const ::testing::TestParamInfo<BadFile>& info) {
                           return std::string(info.param.name);
                         });

// --- Drops ------------------------------------------------------------------

TEST_F(SourcesTest, DropShowsFallingDotsAndTheCounter) {
  SetFields("800", "400");
  std::vector<bool> busyDuringEvents;
  form.onEvents = [&] { busyDuringEvents.push_back(state.Busy); };
  LoadDroppedFiles(state, form, std::vector<std::string>{Solid(80, 40), Solid(80, 40), Solid(80, 40)});
  EXPECT_EQ(form.log, (Log{"count:Files loaded: 1", "status:...", "events", "count:Files loaded: 2",
                           "status:..", "events", "count:Files loaded: 3", "status:.", "events", "status:"}));
  EXPECT_EQ(busyDuringEvents, (std::vector<bool>{true, true, true}));
  EXPECT_EQ(state.SourceCount, 3);
  EXPECT_EQ(state.Sources.size(), 3u);
  EXPECT_FALSE(state.Busy);
}

TEST_F(SourcesTest, CounterContinuesFromEarlierDrops) {
  SetFields("800", "400");
  LoadDroppedFiles(state, form, std::vector<std::string>{Solid(80, 40)});
  form.log.clear();
  LoadDroppedFiles(state, form, std::vector<std::string>{Solid(80, 40), Solid(80, 40)});
  EXPECT_EQ(form.log, (Log{"count:Files loaded: 2", "status:..", "events", "count:Files loaded: 3",
                           "status:.", "events", "status:"}));
}

TEST_F(SourcesTest, SameFileTwiceStoresTwoSources) {
  SetFields("0", "0");
  const std::string file = Pattern(120, 80);
  LoadDroppedFiles(state, form, std::vector<std::string>{file, file});
  EXPECT_EQ(state.SourceCount, 2);
  ExpectSource(0, 120, 80);
  ExpectSource(1, 120, 80);
  EXPECT_EQ(form.countCaption, "Files loaded: 2");
}

TEST_F(SourcesTest, DropWhileBusyChangesNothing) {
  SetFields("800", "400");
  state.Busy = true;
  LoadDroppedFiles(state, form, std::vector<std::string>{Solid(80, 40)});
  EXPECT_TRUE(form.log.empty());
  EXPECT_TRUE(state.Sources.empty());
  EXPECT_TRUE(state.Busy);
}

TEST_F(SourcesTest, DropWithoutAFileListOnlyClearsTheStatus) {
  SetFields("800", "400");
  LoadDroppedFiles(state, form, std::nullopt);
  EXPECT_EQ(form.log, Log{"status:"});
  EXPECT_FALSE(state.Busy);
  LoadDroppedFiles(state, form, std::vector<std::string>{});
  EXPECT_EQ(form.log, (Log{"status:", "status:"}));
  EXPECT_TRUE(state.Sources.empty());
}

TEST_F(SourcesTest, NestedDropAndSetDuringTheImportDoNothing) {
  SetFields("800", "400");
  const std::string extra = Solid(80, 40);
  int nested = 0;
  form.onEvents = [&] {
    if (nested++ > 0) return;
    LoadDroppedFiles(state, form, std::vector<std::string>{extra});
    Set(state, form, "0", "0");
  };
  LoadDroppedFiles(state, form, std::vector<std::string>{Solid(80, 40), Solid(80, 40)});
  EXPECT_EQ(state.SourceCount, 2);
  EXPECT_EQ(state.CanvasW, 800);
  EXPECT_TRUE(state.FixedSize);
  EXPECT_EQ(form.countCaption, "Files loaded: 2");
}

TEST_F(SourcesTest, FailingEventsAreSkippedAndTheDropGoesOn) {
  SetFields("800", "400");
  form.onEvents = [] { throw std::runtime_error("event handler failed"); };
  LoadDroppedFiles(state, form, std::vector<std::string>{Solid(80, 40), Solid(80, 40)});
  EXPECT_EQ(state.SourceCount, 2);
  EXPECT_EQ(form.eventsRun, 2);
  EXPECT_EQ(form.status, "");
  EXPECT_FALSE(state.Busy);
}

TEST_F(SourcesTest, BusyEndsClearedWhenSomethingUnexpectedEscapes) {
  SetFields("800", "400");
  form.onEvents = [] { throw 42; };
  EXPECT_THROW(LoadDroppedFiles(state, form, std::vector<std::string>{Solid(80, 40), Solid(80, 40)}), int);
  EXPECT_FALSE(state.Busy);
  EXPECT_EQ(form.status, "");
  EXPECT_EQ(state.SourceCount, 1);
}

}  // namespace
}  // namespace pictovance
