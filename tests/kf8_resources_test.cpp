#include "kf8/kf8_resources.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>

#include "font_builder.h"
#include "kf8/kindle_address.h"
#include "mobi_operator.h"
#include "mobi_writer.h"
#include "pdf_tools.h"
#include "tarn_mobi.h"
#include "test_files.h"
#include "decoding/text_record.h"

namespace {

using testbook::Bytes;
using testbook::ToBytes;

const Bytes kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 1, 2, 3};
const Bytes kPng = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 7};

// A header record naming its first resource (relative to itself) and its
// text record count.
Bytes Header(std::uint32_t firstResource, std::uint16_t textRecords) {
  Bytes header(0x108, 0);
  testbook::PutU16BE(header, 0x08, textRecords);
  testbook::PutU32BE(header, 0x6C, firstResource);
  return header;
}

class Kf8ResourcesTest : public ::testing::Test {
protected:
  std::vector<ByteReader> Records(std::vector<Bytes> bytes) {
    stored = std::move(bytes);
    std::vector<ByteReader> records;
    for (const Bytes &record : stored)
      records.emplace_back(record);
    return records;
  }
  std::string Folder() const { return scratch.Path().string() + "/book_files/"; }

  std::vector<Bytes> stored;
  testbook::ScratchFolder scratch;
};

TEST_F(Kf8ResourcesTest, KindleEmbedNumbersCountEveryResourceRecord) {
  const Bytes font = testbook::MakeFont("Book Serif");
  // HD-image containers hold a picture 12 bytes in; they write nothing.
  Bytes container = ToBytes("CRES\0\0\0\0\0\0\0\0");
  container.insert(container.end(), kJpeg.begin(), kJpeg.end());
  const auto records = Records({Header(3, 2), ToBytes("text"), ToBytes("text"), kJpeg,
                                testbook::MakeFontRecord(font, {}), ToBytes("FLIS...."), container,
                                ToBytes("CONTBOUNDARY"), ToBytes("CONT\0\0\0\x30"), kPng});
  BookSections sections;
  sections.kind = BookKind::Kf8;
  sections.kf8 = BookSection{0, 10};
  const auto resources = Kf8ResourceRecords(records, sections);
  ASSERT_EQ(resources.size(), 7u);

  Kf8Resources written;
  ASSERT_EQ(WriteKf8Resources(resources, Folder(), "book", 6, written), MOBI_OK);
  EXPECT_EQ(written.names, (std::vector<std::string>{
                               "book_files/image_7.png", "book_files/image_1.gif",
                               "book_files/font_2.ttf", "", "", "", "", "book_files/image_7.png"}));
  EXPECT_EQ(written.FontFamily(2), "Book Serif");
  EXPECT_EQ(written.Name(99), "");
  EXPECT_EQ(testbook::ReadFile(Folder() + "font_2.ttf"), font);
  EXPECT_EQ(testbook::ReadFile(Folder() + "image_1.gif"), kJpeg);
  std::size_t files = 0;
  for ([[maybe_unused]] const auto &file : std::filesystem::directory_iterator(Folder()))
    ++files;
  EXPECT_EQ(files, 3u) << "nothing from the FLIS record or the containers";

  // A cover that is a font, a container or past the list is no cover.
  for (const std::uint32_t cover : {1u, 4u, 7u}) {
    WriteKf8Resources(resources, Folder(), "book", cover, written);
    EXPECT_EQ(written.names[0], "") << cover;
  }
}

TEST_F(Kf8ResourcesTest, AHybridCountsFromItsMobi6Resources) {
  // The KF8 header names no first resource: its range starts after its text.
  const auto records = Records({Header(2, 1), ToBytes("text"), kJpeg, kPng, ToBytes("BOUNDARY"),
                                Header(0xFFFFFFFF, 1), ToBytes("text"), kPng});
  BookSections sections;
  sections.kind = BookKind::Hybrid;
  sections.mobi6 = BookSection{0, 4};
  sections.boundary = 4;
  sections.kf8 = BookSection{5, 8};
  const auto resources = Kf8ResourceRecords(records, sections);
  ASSERT_EQ(resources.size(), 3u);
  EXPECT_EQ(resources[0].Bytes().data(), records[2].Bytes().data());
  EXPECT_EQ(resources[2].Bytes().data(), records[7].Bytes().data());

  EXPECT_TRUE(Kf8ResourceRecords(records, BookSections{}).empty());
  // First resources outside their sections give nothing, never a record past the end.
  std::vector<Bytes> damaged = stored;
  damaged[0] = Header(0xFFFFFFF0, 1);
  damaged[5] = Header(9, 1);
  EXPECT_TRUE(Kf8ResourceRecords(Records(std::move(damaged)), sections).empty());
}

// ---------------------------------------------------------------------------
// Real books

class Kf8ResourcesCorpusTest : public Kf8ResourcesTest {
protected:
  // The book's resources written into the scratch folder.
  Kf8Resources WriteBook(const std::string &name) {
    const std::filesystem::path path = testbook::CorpusFolder() / name;
    EXPECT_EQ(book.Init(path.string().c_str()), 0);
    sections = FindSections(book.Records());
    const auto records = book.Records().All();
    Kf8Resources written;
    EXPECT_EQ(WriteKf8Resources(Kf8ResourceRecords(records, sections), Folder(), "book",
                                Kf8CoverOffset(records, sections), written),
              MOBI_OK);
    return written;
  }
  // fc-scan's "family|style|format" line of a written font.
  std::string ScanFont(const std::string &name) {
    return testbook::RunProgram({"fc-scan", "--format", "%{family[0]}|%{style[0]}|%{fontformat}",
                                 scratch.File(name)})
        .out;
  }

  MobiOperator book;
  BookSections sections;
};

TEST_F(Kf8ResourcesCorpusTest, HybridFontsDecodeToTheirFaces) {
  SKIP_WITHOUT_CORPUS();
  const Kf8Resources written = WriteBook("hybrid-calibre-epictetus-fonts.mobi");
  std::vector<std::string> faces;
  for (std::uint32_t n = 1; n < written.names.size(); ++n)
    if (written.Name(n).ends_with(".ttf")) {
      EXPECT_EQ(written.FontFamily(n), "DejaVu Serif");
      faces.push_back(ScanFont(written.Name(n)));
    }
  std::sort(faces.begin(), faces.end());
  EXPECT_EQ(faces, (std::vector<std::string>{
                       "DejaVu Serif|Bold Italic|TrueType", "DejaVu Serif|Bold|TrueType",
                       "DejaVu Serif|Book|TrueType", "DejaVu Serif|Italic|TrueType"}));
  EXPECT_EQ(written.Name(0), "book_files/image_3.gif"); // EXTH 201 names resource 2 + 1
}

TEST_F(Kf8ResourcesCorpusTest, ObfuscatedFontDecodes) {
  SKIP_WITHOUT_CORPUS();
  const Kf8Resources written = WriteBook("odd-libmobi-kf8-obfuscated-fonts.mobi");
  ASSERT_EQ(written.Name(1), "book_files/font_1.otf");
  EXPECT_EQ(ScanFont(written.Name(1)), "Kurier|Light|CFF");
  EXPECT_FALSE(written.FontFamily(1).empty());
}

TEST_F(Kf8ResourcesCorpusTest, EveryEmbeddedPictureHasItsFile) {
  SKIP_WITHOUT_CORPUS();
  const Kf8Resources written = WriteBook("kf8-calibre-checkmate-46img.azw3");
  std::string text;
  ASSERT_EQ(DecodeSectionText(book.Records(), *sections.kf8, text), 0);
  std::set<std::uint32_t> pictures;
  constexpr std::string_view kEmbed = "kindle:embed:";
  for (std::size_t at = text.find(kEmbed); at != std::string::npos;
       at = text.find(kEmbed, at + 1)) {
    const std::size_t digits = at + kEmbed.size();
    const auto address = ParseKindleAddress(
        std::string_view(text).substr(at, text.find_first_of("?\"') ", digits) - at));
    ASSERT_TRUE(address) << text.substr(at, 40);
    pictures.insert(address->number);
  }
  EXPECT_EQ(pictures.size(), 45u); // of its 47 pictures, the text shows 45
  for (std::uint32_t number : pictures) {
    ASSERT_FALSE(written.Name(number).empty()) << number;
    EXPECT_TRUE(std::filesystem::exists(scratch.File(written.Name(number))))
        << written.Name(number);
  }
}

} // namespace
