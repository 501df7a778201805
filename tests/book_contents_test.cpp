// The book's contents: the tree from NCX entries, the <nav> list, and a MOBI6
// book whose NCX places get anchors and whose HTML carries the list.
#include "index/book_contents.h"

#include <gtest/gtest.h>

#include "book_fixture.h"
#include "index_writer.h"

namespace {

NcxEntry Entry(std::string label, std::uint32_t depth, std::optional<std::uint32_t> parent,
               std::uint32_t position) {
  NcxEntry entry;
  entry.label = std::move(label);
  entry.depth = depth;
  entry.parent = parent;
  entry.position = position;
  return entry;
}

TEST(BookContents, NestsByParentInBookOrderAndKeepsCyclesOut) {
  // Stored as the Kindle sorts them: all top-level entries first.
  const std::vector<NcxEntry> ncx = {
      Entry("One", 0, std::nullopt, 10), Entry("Two", 0, std::nullopt, 50),
      Entry("1.1", 1, 0, 20),            Entry("2.1", 1, 1, 60),
      Entry("1.1.1", 2, 2, 30),
      Entry("self", 1, 5, 70),   // its own parent
      Entry("up", 0, 4, 80),     // a parent deeper than itself
      Entry("lost", 1, 99, 90)}; // no such parent
  const std::vector<ContentsEntry> contents = FileposContents(ncx);
  std::vector<std::string> order;
  for (const ContentsEntry &entry : contents)
    order.push_back(entry.label + "@" + std::to_string(entry.depth) + "#" + entry.target);
  EXPECT_EQ(order,
            (std::vector<std::string>{"One@0#filepos10", "1.1@1#filepos20", "1.1.1@2#filepos30",
                                      "Two@0#filepos50", "2.1@1#filepos60", "self@0#filepos70",
                                      "up@0#filepos80", "lost@0#filepos90"}));
}

TEST(BookContents, NavNestsListsByDepthAndEscapesItsText) {
  const std::vector<ContentsEntry> contents = {
      {"A & B", 0, "p1"}, {"<i>", 1, "p\"2"}, {"deep", 2, "p3"}, {"back", 0, ""}};
  EXPECT_EQ(ContentsNav(contents),
            "<nav id=\"bookconv-contents\" style=\"display:none\"><ol>"
            "<li><a href=\"#p1\">A &amp; B</a><ol><li><a href=\"#p&quot;2\">&lt;i&gt;</a>"
            "<ol><li><a href=\"#p3\">deep</a></li></ol></li></ol></li>"
            "<li><a>back</a></li></ol></nav>");
  EXPECT_EQ(ContentsNav({}), "");
}

TEST(BookContents, DeepNestingStaysBounded) {
  std::vector<NcxEntry> chain;
  for (std::uint32_t i = 0; i < 100000; ++i)
    chain.push_back(Entry("x", i, i == 0 ? std::nullopt : std::optional(i - 1), i));
  const std::vector<ContentsEntry> contents = FileposContents(chain);
  ASSERT_EQ(contents.size(), chain.size());
  EXPECT_LE(contents.back().depth, 16u);
  const std::string nav = ContentsNav(contents);
  EXPECT_LE(nav.size(), 100 * chain.size());
}

class ContentsBookTest : public testbook::BookFixture {
protected:
  // A stored book of `text` whose NCX (records after the text) names `ncx`.
  void OpenWithNcx(const std::string &text,
                   const std::vector<std::pair<std::string, std::uint32_t>> &ncx,
                   std::uint32_t encoding = 65001) {
    testbook::BookSpec spec;
    spec.textEncoding = encoding;
    spec.textRecords = testbook::SplitText(text, 64);
    testbook::Cncx strings;
    testbook::IndexSpec index{testbook::NcxTagRows()};
    index.encoding = encoding;
    for (std::size_t i = 0; i < ncx.size(); ++i)
      index.entries.push_back(
          {std::to_string(i), {{1, {ncx[i].second}}, {3, {strings.Add(ncx[i].first)}}}});
    index.cncxRecords = strings.Records();
    spec.tailRecords = testbook::BuildIndex(index);
    std::vector<testbook::Bytes> records = testbook::BookRecords(spec);
    testbook::PutU32BE(records[0], 0xF4, static_cast<std::uint32_t>(1 + spec.textRecords.size()));
    Open(testbook::BuildPdb(records));
  }
  std::string Unpack() {
    EXPECT_EQ(book.ProcessMetaInfo(), 0); // the text encoding
    EXPECT_EQ(book.ProcessTextRecord(HtmlPath().c_str()), 0);
    return Contents(HtmlPath());
  }
};

TEST_F(ContentsBookTest, NcxPlacesGetAnchorsAndTheListGoesBeforeTheBodyEnd) {
  const std::string text = "<html><body><p>One</p><p><a filepos=22>Two</a></p></body></html>";
  const std::size_t two = text.find("<p><a");
  OpenWithNcx(text, {{"First", 12}, {"Second", static_cast<std::uint32_t>(two)}, {"Far", 5000}});
  const std::string html = Unpack();
  const std::string nav = "<nav id=\"bookconv-contents\" style=\"display:none\"><ol>"
                          "<li><a href=\"#filepos12\">First</a></li>"
                          "<li><a href=\"#filepos22\">Second</a></li>"
                          "<li><a href=\"#filepos5000\">Far</a></li></ol></nav>";
  EXPECT_EQ(html, "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html><body><a id=\"filepos12\" />"
                  "<p>One</p><a id=\"filepos22\" /><p><a href=\"#filepos22\">Two</a></p>" +
                      nav + "</body></html><a id=\"filepos5000\" />");
}

TEST_F(ContentsBookTest, LabelsOfAWindows1252BookAreConvertedOnce) {
  OpenWithNcx("<p>caf\xE9</p>", {{"Caf\xE9", 0}}, 1252);
  const std::string html = Unpack();
  EXPECT_NE(html.find("<a id=\"filepos0\" /><p>caf\xC3\xA9</p>"), std::string::npos) << html;
  EXPECT_NE(html.find(">Caf\xC3\xA9</a></li></ol></nav>"), std::string::npos) << html;
}

TEST_F(ContentsBookTest, ADamagedIndexLeavesTheBookWithoutAList) {
  testbook::BookSpec spec;
  spec.textRecords = testbook::SplitText("<p>text</p>", 64);
  std::vector<testbook::Bytes> records = testbook::BookRecords(spec);
  testbook::PutU32BE(records[0], 0xF4, 7); // past the records
  Open(testbook::BuildPdb(records));
  EXPECT_EQ(Unpack(), "<?xml version=\"1.0\" encoding=\"UTF-8\"?><p>text</p>");
}

} // namespace
