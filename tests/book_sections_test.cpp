// Which records belong to which rendition, each section's text, and what the
// unpacking makes of hybrid, KF8-only and dictionary books.
#include "container/book_sections.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "book_text.h"
#include "resources/image_record.h"
#include "mobi_writer.h"
#include "tarn_mobi.h"
#include "test_files.h"
#include "text_encoder.h"

namespace {

using testbook::BookSpec;
using testbook::Bytes;
using testbook::HybridSpec;
using testbook::ToBytes;

const Bytes kGif = ToBytes("GIF89a-picture");

// A hybrid whose halves hold different text; the KF8 half in HUFF/CDIC, so
// its HUFF record index only works rebased, and with a picture-like record.
HybridSpec Hybrid() {
  HybridSpec spec;
  spec.mobi6.textRecords = {ToBytes("<html>mobi6 <img recindex=1></html>")};
  spec.mobi6.imageRecords = {kGif, ToBytes("FLIS....")};
  spec.kf8 = testbook::TextBook(testbook::SampleText(6000), PdbRecord0::kHuffCdic, 0x0003);
  spec.kf8.fileVersion = 8;
  spec.kf8.mobiHeaderLength = 264;
  spec.kf8.skeletonIndex = 5;
  spec.kf8.tailRecords = {kGif}; // KF8 resources are no MOBI6 pictures
  return spec;
}

std::string SectionText(const BookRecords &records, const BookSection &section) {
  std::string text;
  EXPECT_EQ(DecodeSectionText(records, section, text), MOBI_OK);
  return text;
}

TEST(BookSections, AHybridHasTwoSectionsAndEachDecodesItsOwnText) {
  const HybridSpec spec = Hybrid();
  const auto mobi6Count = static_cast<std::uint32_t>(testbook::BookRecords(spec.mobi6).size());
  const BookRecords records = testbook::InMemory(testbook::BuildHybrid(spec));
  const BookSections sections = FindSections(records);
  ASSERT_EQ(sections.kind, BookKind::Hybrid);
  EXPECT_EQ(sections.boundary, mobi6Count);
  EXPECT_EQ(sections.mobi6->header, 0u);
  EXPECT_EQ(sections.mobi6->end, mobi6Count);
  EXPECT_EQ(sections.kf8->header, mobi6Count + 1);
  EXPECT_EQ(sections.kf8->end, records.Count());
  EXPECT_EQ(sections.kf8->Record(5), mobi6Count + 6) << "rebased on the KF8 header record";
  EXPECT_EQ(sections.kf8->Record(kNullIndex), std::nullopt);
  EXPECT_EQ(sections.kf8->Record(records.Count()), std::nullopt);
  EXPECT_EQ(sections.mobi6->Record(mobi6Count), std::nullopt) << "BOUNDARY is outside MOBI6";
  EXPECT_EQ(SectionText(records, *sections.mobi6), "<html>mobi6 <img recindex=1></html>");
  EXPECT_TRUE(SectionText(records, *sections.kf8) == testbook::SampleText(6000));
}

TEST(BookSections, AMissingOrWrongExth121FallsBackToTheBoundaryRecord) {
  for (const std::optional<std::uint32_t> named :
       {std::optional<std::uint32_t>(), std::optional<std::uint32_t>(1),
        std::optional<std::uint32_t>(60000)}) {
    HybridSpec spec = Hybrid();
    spec.exth121 = named;
    const BookSections sections = FindSections(testbook::InMemory(testbook::BuildHybrid(spec)));
    EXPECT_EQ(sections.kind, BookKind::Hybrid) << named.value_or(0);
    EXPECT_EQ(sections.kf8->header, *sections.boundary + 1);
  }
}

TEST(BookSections, ABoundaryThatLeadsNowhereStillEndsTheMobi6Section) {
  HybridSpec spec = Hybrid();
  spec.kf8.fileVersion = 6; // no KF8 header behind the boundary
  const BookRecords records = testbook::InMemory(testbook::BuildHybrid(spec));
  const BookSections sections = FindSections(records);
  EXPECT_EQ(sections.kind, BookKind::Mobi6);
  EXPECT_FALSE(sections.kf8);
  EXPECT_EQ(sections.mobi6->end, *sections.boundary);

  // A BOUNDARY as the very last record.
  std::vector<Bytes> last = testbook::BookRecords(spec.mobi6);
  last.push_back(ToBytes("BOUNDARY"));
  const BookSections cut = FindSections(testbook::InMemory(testbook::BuildPdb(last)));
  EXPECT_EQ(cut.kind, BookKind::Mobi6);
  EXPECT_EQ(cut.mobi6->end, last.size() - 1);
}

TEST(BookSections, Kf8OnlyNeedsVersion8ALongHeaderAndASkeletonIndex) {
  BookSpec kf8 = testbook::Kf8Spec({ToBytes("<html>kf8</html>")});
  const BookSections sections = FindSections(testbook::InMemory(testbook::BuildBook(kf8)));
  EXPECT_EQ(sections.kind, BookKind::Kf8);
  EXPECT_FALSE(sections.mobi6);
  EXPECT_EQ(SectionText(testbook::InMemory(testbook::BuildBook(kf8)), *sections.kf8),
            "<html>kf8</html>");

  BookSpec stray = kf8;
  stray.skeletonIndex.reset(); // an old book with a stray version number
  EXPECT_EQ(FindSections(testbook::InMemory(testbook::BuildBook(stray))).kind, BookKind::Mobi6);
  stray = kf8;
  stray.mobiHeaderLength = 232;
  EXPECT_EQ(FindSections(testbook::InMemory(testbook::BuildBook(stray))).kind, BookKind::Mobi6);
}

TEST(BookSections, ASectionHeaderTooShortOrOutOfRangeIsReported) {
  HybridSpec spec = Hybrid();
  std::vector<Bytes> records = testbook::HybridRecords(spec);
  const BookRecords good = testbook::InMemory(testbook::BuildPdb(records));
  const BookSection kf8 = *FindSections(good).kf8;
  std::string text;
  EXPECT_EQ(DecodeSectionText(good, BookSection{kf8.header, kf8.header + 3}, text),
            MOBI_ERR_ENCRYPTED)
      << "the HUFF/CDIC records lie outside the section";
  records[kf8.header].resize(10);
  EXPECT_EQ(DecodeSectionText(testbook::InMemory(testbook::BuildPdb(records)), kf8, text),
            MOBI_ERR_DAMAGED);
  EXPECT_EQ(DecodeSectionText(good, BookSection{good.Count(), good.Count()}, text),
            MOBI_ERR_DAMAGED);
}

TEST(PictureRecords, OnlyPictureContentHasAnExtension) {
  EXPECT_EQ(PictureExtension(ToBytes("\xFF\xD8\xFF\xDB")), "gif");
  EXPECT_EQ(PictureExtension(ToBytes("GIF87a")), "gif");
  EXPECT_EQ(PictureExtension(ToBytes("\x89PNG\r\n\x1A\n")), "png");
  for (const char *other :
       {"BOUNDARY", "FONT", "RESC", "INDX", "FDST", "AUDI", "\xE9\x8E\r\n", "BMW", "", "\x89PNG"})
    EXPECT_EQ(PictureExtension(ToBytes(other)), "") << other;
}

class UnpackSectionsTest : public ::testing::Test {
protected:
  int Unpack(const Bytes &bytes) {
    testbook::WriteFile(scratch.File("book.mobi"), bytes);
    book.Destroy();
    EXPECT_EQ(book.Init(scratch.File("book.mobi").c_str()), MOBI_OK);
    return book.UnpackBook(scratch.File("book.htm").c_str());
  }
  std::string Html() const {
    const Bytes bytes = testbook::ReadFile(scratch.File("book.htm"));
    return std::string(bytes.begin(), bytes.end());
  }

  testbook::ScratchFolder scratch;
  MobiOperator book;
};

TEST_F(UnpackSectionsTest, AHybridConvertsFromItsMobi6HalfAndItsPicturesOnly) {
  ASSERT_EQ(Unpack(testbook::BuildHybrid(Hybrid())), MOBI_OK);
  EXPECT_NE(Html().find("mobi6 <img src=\"book_files/image_1.gif\" />"), std::string::npos)
      << Html();
  // The walk ends at BOUNDARY: the FLIS record keeps its number, nothing after.
  EXPECT_EQ(book.ImageNames(), (std::vector<std::string>{"", "book_files/image_1.gif", ""}));
  std::vector<std::string> files;
  for (const auto &entry : std::filesystem::directory_iterator(scratch.File("book_files")))
    files.push_back(entry.path().filename().string());
  EXPECT_EQ(files, std::vector<std::string>{"image_1.gif"});
}

TEST_F(UnpackSectionsTest, AKf8OnlyBookIsRefusedBeforeAnythingIsWritten) {
  BookSpec kf8 = testbook::Kf8Spec({ToBytes("<html><body aid=\"0\"></body></html>")});
  kf8.imageRecords = {kGif};
  EXPECT_EQ(Unpack(testbook::BuildBook(kf8)), MOBI_ERR_KF8);
  EXPECT_FALSE(std::filesystem::exists(scratch.File("book.htm")));
  EXPECT_FALSE(std::filesystem::exists(scratch.File("book_files")));
}

TEST_F(UnpackSectionsTest, DictionariesAreToldByTheirFactNotInTheirText) {
  const std::string html = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><p>word</p>";
  BookSpec spec;
  spec.textRecords = {ToBytes("<p>word</p>")};
  ASSERT_EQ(Unpack(testbook::BuildBook(spec)), MOBI_OK);
  EXPECT_EQ(book.GetFact("dictionary"), std::nullopt);
  spec.orthographicIndex = 3;
  ASSERT_EQ(Unpack(testbook::BuildBook(spec)), MOBI_OK);
  EXPECT_EQ(book.GetFact("dictionary"), "true");
  EXPECT_EQ(Html(), html);
  // A book whose writer named its contents index in the orthographic slot
  // too is no dictionary.
  spec.ncxIndex = 3;
  ASSERT_EQ(Unpack(testbook::BuildBook(spec)), MOBI_OK);
  EXPECT_EQ(book.GetFact("dictionary"), std::nullopt);
  spec.ncxIndex.reset();
  for (const std::uint32_t type : {531u, 532u}) {
    spec.orthographicIndex = 0xFFFFFFFF;
    spec.exth = {{type, ToBytes("en")}};
    ASSERT_EQ(Unpack(testbook::BuildBook(spec)), MOBI_OK);
    EXPECT_EQ(book.GetFact("dictionary"), "true") << type;
    EXPECT_EQ(Html(), html) << type;
  }
}

// The program shows the cover on a page of its own unless the book shows it:
// itself, or a picture with the same bytes under another name.
TEST_F(UnpackSectionsTest, PicturesWithTheCoversBytesAreNamedAsItsCopies) {
  BookSpec spec;
  spec.textRecords = {ToBytes("<p>word</p>")};
  spec.imageRecords = {kGif, ToBytes("GIF89a-other"), kGif};
  spec.exth = {{201, testbook::U32(0)}};
  ASSERT_EQ(Unpack(testbook::BuildBook(spec)), MOBI_OK);
  EXPECT_EQ(book.GetCoverImageName(), "book_files/image_1.gif");
  EXPECT_EQ(book.GetFact("cover-copies"), "book_files/image_3.gif");
  spec.exth = {{201, testbook::U32(1)}};
  ASSERT_EQ(Unpack(testbook::BuildBook(spec)), MOBI_OK);
  EXPECT_EQ(book.GetFact("cover-copies"), std::nullopt);
}

TEST(BookSectionsCorpus, AKf8BooksCopyOfItsCoverIsNamed) {
  SKIP_WITHOUT_CORPUS();
  testbook::ScratchFolder scratch;
  MobiOperator book;
  const auto path = testbook::CorpusFolder() / "kf8-calibre-checkmate-46img.azw3";
  ASSERT_EQ(book.Init(path.c_str()), MOBI_OK);
  ASSERT_EQ(book.UnpackBook(scratch.File("tmpData.htm").c_str()), MOBI_OK);
  const auto copies = book.GetFact("cover-copies");
  ASSERT_TRUE(copies.has_value());
  EXPECT_EQ(testbook::ReadFile(scratch.File(*copies)),
            testbook::ReadFile(scratch.File(book.GetCoverImageName())));
}

// The real books: every book unpacks, KF8-only ones from their rendition,
// and no image folder holds a file that is no picture or font.
TEST(BookSectionsCorpus, EveryBookUnpacksItsPicturesAndFontsOnly) {
  SKIP_WITHOUT_CORPUS();
  std::size_t hybrids = 0, kf8 = 0;
  for (const auto &path : testbook::CorpusBooks()) {
    const std::string name = path.filename().string();
    SCOPED_TRACE(name);
    testbook::ScratchFolder scratch;
    MobiOperator book;
    if (book.Init(path.c_str()) != MOBI_OK)
      continue;
    const int result = book.UnpackBook(scratch.File("book.htm").c_str());
    const BookKind kind = FindSections(book.Records()).kind;
    if (name.starts_with("hybrid-") || name == "palmdoc-libmobi-ncx-hybrid.mobi") {
      EXPECT_EQ(kind, BookKind::Hybrid);
      EXPECT_EQ(result, MOBI_OK);
    }
    hybrids += kind == BookKind::Hybrid;
    if (kind == BookKind::Kf8) {
      ++kf8;
      EXPECT_EQ(result, MOBI_OK);
    }
    if (!std::filesystem::exists(scratch.File("book_files")))
      continue;
    for (const auto &entry : std::filesystem::directory_iterator(scratch.File("book_files"))) {
      const Bytes bytes = testbook::ReadFile(entry.path().string());
      const bool font = entry.path().filename().string().starts_with("font_");
      EXPECT_TRUE(font || PictureExtension(bytes) != "") << entry.path().filename();
    }
  }
  EXPECT_GE(hybrids, 2u);
  EXPECT_EQ(kf8, 6u); // four in books/, the two right-to-left ones
}

} // namespace
