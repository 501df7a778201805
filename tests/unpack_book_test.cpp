// Whole books through the exported service table: HTML, images and metadata.
#include "tarn_mobi.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <regex>
#include <string>

#include "html_checks.h"
#include "mobi_writer.h"
#include "sample_books.h"
#include "test_files.h"

namespace {

using testbook::BookSpec;
using testbook::Bytes;
using testbook::ToBytes;
using testbook::U32;

// A heap text from the library, released with free().
std::string Take(char *text) {
  if (text == nullptr)
    return "<null>";
  std::string copy(text);
  std::free(text);
  return copy;
}

class UnpackBookTest : public ::testing::Test {
protected:
  UnpackBookTest() : service(CreateMobiService()) {}
  ~UnpackBookTest() override {
    service->ClearUp(service->data);
    FreeMobiService(service);
  }

  int Unpack(const BookSpec &spec) { return Unpack(testbook::BuildBook(spec)); }
  int Unpack(const Bytes &book) {
    testbook::WriteFile(scratch.File("book.mobi"), book);
    EXPECT_EQ(service->Init(service->data, scratch.File("book.mobi").c_str()), MOBI_OK);
    return service->MobiToHtml(service->data, scratch.File("book.htm").c_str());
  }
  std::string Html() const {
    const Bytes bytes = testbook::ReadFile(scratch.File("book.htm"));
    return std::string(bytes.begin(), bytes.end());
  }

  testbook::ScratchFolder scratch;
  MobiService *service;
};

const Bytes kGif = ToBytes("GIF89a...");
const Bytes kJpeg = {0xFF, 0xD8, 0xFF, 0xE0, 'j', 'p', 'g'};
const Bytes kPng = {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A, 'p'};

TEST_F(UnpackBookTest, APictureFolderThatCannotBeMadeIsAnError) {
  testbook::WriteFile(scratch.File("book_files"), ToBytes("a file where the folder goes"));
  BookSpec mobi6;
  mobi6.textRecords = testbook::SplitText("<p>A picture:</p><img recindex=\"00001\">");
  mobi6.imageRecords = {kGif};
  EXPECT_EQ(Unpack(mobi6), MOBI_ERR_RESOURCE);
  service->ClearUp(service->data);
  EXPECT_EQ(Unpack(testbook::BuildBook(testbook::Kf8BookSpec(testbook::SampleKf8Book()))),
            MOBI_ERR_RESOURCE);
}

TEST_F(UnpackBookTest, ABookWithACoverAndImages) {
  BookSpec spec;
  spec.textRecords = testbook::SplitText(
      "<html><body><a filepos=0000000072>Next</a><img recindex=\"00001\" alt=one>"
      "<p>Chapter</p><img RECINDEX='3'></body></html>",
      40);
  spec.textRecordSize = 40;
  spec.imageRecords = {kGif, ToBytes("FLIS...."), kJpeg, kPng};
  spec.tailRecords = {ToBytes("FCIS...."), Bytes{0xE9, 0x8E, 0x0D, 0x0A}};
  spec.exth = {{100, ToBytes("Wells, H. G.")}, {201, U32(3)}};
  spec.fullName = "The Time Machine";
  ASSERT_EQ(Unpack(spec), MOBI_OK);

  const std::string html = Html();
  EXPECT_NE(html.find("<a href=\"#filepos72\">Next</a>"), std::string::npos);
  EXPECT_NE(html.find("<a id=\"filepos72\" /><p>Chapter</p>"), std::string::npos) << html;
  EXPECT_NE(html.find("<img src=\"book_files/image_1.gif\" /><a id"), std::string::npos) << html;
  EXPECT_NE(html.find("<img src=\"book_files/image_3.gif\" /></body>"), std::string::npos) << html;
  EXPECT_EQ(testbook::ReadFile(scratch.File("book_files/image_3.gif")), kJpeg);
  EXPECT_EQ(testbook::ReadFile(scratch.File("book_files/image_4.png")), kPng);
  EXPECT_FALSE(std::filesystem::exists(scratch.File("book_files/image_2.FLIS")));

  EXPECT_EQ(Take(service->GetTitle(service->data)), "The Time Machine");
  EXPECT_EQ(Take(service->GetAuthor(service->data)), " H. G. Wells");
  EXPECT_EQ(Take(service->GetCoverImageName(service->data)), "book_files/image_4.png");
}

TEST_F(UnpackBookTest, EveryGetterCallGivesAFreshBuffer) {
  BookSpec spec;
  spec.textRecords = {ToBytes("<p>x</p>")};
  spec.exth = {{100, ToBytes("Author")}};
  ASSERT_EQ(Unpack(spec), MOBI_OK);
  char *first = service->GetTitle(service->data);
  char *second = service->GetTitle(service->data);
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_NE(first, second);
  EXPECT_STREQ(first, second);
  std::free(first);
  std::free(second);
  EXPECT_EQ(Take(service->GetCoverImageName(service->data)), "<null>") << "no cover";
}

TEST_F(UnpackBookTest, AWindows1252Book) {
  BookSpec spec;
  spec.textEncoding = 1252;
  spec.textRecords = {ToBytes("<p>Un caf\xE9 \x96 d\xE9j\xE0 vu</p>")};
  ASSERT_EQ(Unpack(spec), MOBI_OK);
  EXPECT_NE(Html().find("<p>Un caf\xC3\xA9 \xE2\x80\x93 d\xC3\xA9j\xC3\xA0 vu</p>"),
            std::string::npos);
}

// The book is unpacked in full, its pictures pointed at, before the code
// page is reported.
TEST_F(UnpackBookTest, AGbkBookIsWrittenButReportedAsAnotherEncoding) {
  BookSpec spec;
  spec.textEncoding = 936;
  spec.textRecords = {ToBytes("<p>\xD6\xD0\xCE\xC4</p><img recindex=1>")};
  spec.imageRecords = {kGif};
  EXPECT_EQ(Unpack(spec), MOBI_ERR_ENCODING);
  EXPECT_NE(Html().find("<p>\xE4\xB8\xAD\xE6\x96\x87</p><img src=\"book_files/image_1.gif\" />"),
            std::string::npos)
      << "written, with the post-pass";
  EXPECT_TRUE(std::filesystem::exists(scratch.File("book_files/image_1.gif")));
}

// With no image records the cover alone runs the post-pass; the first
// "< image" element tag becomes the cover picture, which is then used up.
TEST_F(UnpackBookTest, ACoverOnlyBookPlacesItsCoverOnce) {
  BookSpec spec;
  spec.textRecords = {ToBytes("<p>< image cover>< image again></p>")};
  spec.tailRecords = {kJpeg};
  spec.exth = {{201, U32(2)}}; // counted from record 0: the tail record
  ASSERT_EQ(Unpack(spec), MOBI_OK);
  EXPECT_EQ(Html(),
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?><p><img src=\"book_files/image_3.gif\" />"
            "< image again></p>");
  EXPECT_EQ(testbook::ReadFile(scratch.File("book_files/image_3.gif")), kJpeg);
  EXPECT_EQ(Take(service->GetCoverImageName(service->data)), "<null>");
}

TEST_F(UnpackBookTest, ABookWithoutPicturesIsNotRewritten) {
  BookSpec spec;
  spec.textRecords = {ToBytes("<img recindex=1>")};
  ASSERT_EQ(Unpack(spec), MOBI_OK);
  EXPECT_EQ(Html(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><img recindex=1>");
}

// The start tag that carries id `id`, or empty.
std::string TagWithId(const std::string &html, const std::string &id) {
  const std::size_t at = html.find(" id=\"" + id + "\"");
  if (id.empty() || at == std::string::npos)
    return {};
  const std::size_t open = html.rfind('<', at);
  return html.substr(open, html.find('>', at) + 1 - open);
}

// The id on the first start tag that begins with `opening`, or empty.
std::string IdOf(const std::string &html, const std::string &opening) {
  const std::size_t at = html.find(opening);
  const std::string tag = at == std::string::npos ? "" : html.substr(at, html.find('>', at) - at);
  std::smatch id;
  return std::regex_search(tag, id, std::regex(R"re( id="([^"]+)")re")) ? id[1].str() : "";
}

// The KF8 sample book's checks: its link, picture, style sheet, contents and
// reading start, in the HTML of a KF8-only book and of a hybrid.
void ExpectSampleRendition(const std::string &html, const testbook::ScratchFolder &scratch) {
  testbook::ExpectSoundDocument(html, scratch);
  std::smatch link;
  ASSERT_TRUE(
      std::regex_search(html, link, std::regex(R"re(<a href="#([^"]+)">the section</a>)re")));
  const std::string section = link[1];
  EXPECT_EQ(TagWithId(html, section).rfind("<h2 class=\"section\"", 0), 0u)
      << TagWithId(html, section);

  std::smatch picture;
  ASSERT_TRUE(
      std::regex_search(html, picture, std::regex(R"re(<img src="([^"]+)" alt="photo"/>)re")));
  EXPECT_EQ(testbook::ReadFile(scratch.File(picture[1])),
            testbook::ReadFile(BOOKCONV_TEST_DATA_DIR "/images/photo.jpg"));

  const std::string head = html.substr(0, html.find("</head>"));
  EXPECT_NE(head.find("h1.part { color: #336699 }"), std::string::npos) << head;
  EXPECT_EQ(html.find("<link"), std::string::npos) << "the style sheet is inlined, not linked";

  std::smatch headings;
  ASSERT_TRUE(std::regex_search(
      html, headings,
      std::regex(
          R"re(<h1 class="part" id="([^"]+)">Part One<[^]*<h1 class="part" id="([^"]+)">Part Two<)re")));
  const std::string one = headings[1], two = headings[2];
  EXPECT_NE(html.find("<nav id=\"bookconv-contents\" style=\"display:none\"><ol><li><a href=\"#" +
                      one + "\">Part One</a></li><li><a href=\"#" + two +
                      "\">Part Two</a><ol><li><a href=\"#" + section +
                      "\">Section 2.1</a></li></ol></li></ol></nav>"),
            std::string::npos);
  // EXTH 116's last copy is the reading start; the first one is not.
  EXPECT_FALSE(IdOf(html, "<p class=\"opening\"").empty());
  EXPECT_EQ(IdOf(html, "<p class=\"decoy\""), "");
}

TEST_F(UnpackBookTest, AKf8BookAndItsHybrid) {
  const testbook::Kf8Book book = testbook::SampleKf8Book();
  ASSERT_EQ(Unpack(testbook::Kf8BookSpec(book)), MOBI_OK);
  {
    SCOPED_TRACE("KF8 only");
    ExpectSampleRendition(Html(), scratch);
  }

  std::filesystem::remove_all(scratch.File("book_files")); // the hybrid writes its own
  ASSERT_EQ(Unpack(testbook::BuildHybrid(testbook::Kf8HybridSpec(book, "<p>The MOBI6 half.</p>"))),
            MOBI_OK);
  SCOPED_TRACE("hybrid");
  EXPECT_EQ(Html().find("The MOBI6 half"), std::string::npos) << "the KF8 half is the one rendered";
  ExpectSampleRendition(Html(), scratch);
}

// A MOBI6 book's EXTH 116 is a filepos: its place gets an anchor, which
// GetMetadata names; a place inside a tag is no start.
TEST_F(UnpackBookTest, AMobi6ReadingStartFromExth116) {
  const std::string text =
      "<html><body><p>Title page</p><p class=\"first\">Chapter one</p></body></html>";
  const std::uint32_t chapter = static_cast<std::uint32_t>(text.find("<p class"));
  BookSpec spec;
  spec.textRecords = testbook::SplitText(text);
  spec.exth = {{116, U32(chapter)}};
  ASSERT_EQ(Unpack(spec), MOBI_OK);
  const std::string id = "filepos" + std::to_string(chapter);
  EXPECT_NE(Html().find("<a id=\"" + id + "\" /><p class=\"first\">"), std::string::npos) << Html();
  EXPECT_EQ(Take(service->GetMetadata(service->data, "start")), id);

  spec.exth = {{116, U32(chapter + 3)}};
  ASSERT_EQ(Unpack(spec), MOBI_OK);
  EXPECT_NE(Html().find("<p class=\"first\">Chapter one"), std::string::npos) << Html();
  EXPECT_EQ(Take(service->GetMetadata(service->data, "start")), "<null>");
}

// The guide's reading start outranks EXTH 116, and GetMetadata names its
// anchor; an EXTH 116 outside the text is no start.
TEST_F(UnpackBookTest, AKf8ReadingStartFromTheGuide) {
  testbook::Kf8Book book = testbook::SampleKf8Book();
  book.guide = {{"text", "Start", book.flow0.PositionOf(1, "<p class=\"decoy\"")}};
  ASSERT_EQ(Unpack(testbook::Kf8BookSpec(book)), MOBI_OK);
  EXPECT_FALSE(IdOf(Html(), "<p class=\"decoy\"").empty());
  EXPECT_EQ(IdOf(Html(), "<p class=\"opening\""), "");
  EXPECT_EQ(Take(service->GetMetadata(service->data, "start")), IdOf(Html(), "<p class=\"decoy\""));

  book.guide.clear();
  book.exth = {{116, U32(0xFFFFFF00)}};
  ASSERT_EQ(Unpack(testbook::Kf8BookSpec(book)), MOBI_OK);
  EXPECT_EQ(IdOf(Html(), "<p class=\"opening\""), "");
  EXPECT_EQ(IdOf(Html(), "<p class=\"decoy\""), "");
  EXPECT_EQ(Take(service->GetMetadata(service->data, "start")), "<null>");
}

} // namespace
