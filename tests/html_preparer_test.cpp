// The HTML preparation and the text conversions of the finishing step, on
// HTML in the library's output form; no rendering.
#include "html_preparer.h"

#include <gtest/gtest.h>

#include "pdf_text.h"
#include "xmp_metadata.h"

namespace {

using finishing::FinishPlan;
using finishing::OutlineEntry;

const std::string kDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";

std::string Marker(const std::string &key) {
  return "<a href=\"bookconv-mark:" + key +
         "\" style=\"position:absolute;display:inline-block;width:1px;height:1px\"></a>";
}

// Prepares `html` with no cover; returns the prepared text.
std::string Prepared(std::string html, FinishPlan *plan = nullptr) {
  FinishPlan result = finishing::PrepareHtmlText(html, {});
  if (plan != nullptr)
    *plan = result;
  return html;
}

std::vector<std::string> Titles(const FinishPlan &plan) {
  std::vector<std::string> titles;
  for (const OutlineEntry &entry : plan.outline)
    titles.push_back(entry.title);
  return titles;
}

std::vector<int> Depths(const FinishPlan &plan) {
  std::vector<int> depths;
  for (const OutlineEntry &entry : plan.outline)
    depths.push_back(entry.depth);
  return depths;
}

TEST(PdfText, MetadataFromEitherEncodingBecomesTrimmedUtf8) {
  using finishing::BookTextToUtf8;
  EXPECT_EQ(BookTextToUtf8("Caf\xc3\xa9"), "Caf\xc3\xa9");
  EXPECT_EQ(BookTextToUtf8("Caf\xe9 \x80\x93x\x94"),
            "Caf\xc3\xa9 \xe2\x82\xac\xe2\x80\x9cx\xe2\x80\x9d");
  // Bytes Windows-1252 leaves undefined become U+FFFD, as in the book's text.
  EXPECT_EQ(BookTextToUtf8("a\x81z\xff"), "a\xef\xbf\xbdz\xc3\xbf");
  EXPECT_EQ(BookTextToUtf8("  Two\r\n\tlines \x01 here  "), "Two lines here");
  EXPECT_EQ(BookTextToUtf8(""), "");
}

TEST(PdfText, HtmlFragmentsBecomeVisibleText) {
  using finishing::HtmlFragmentToText;
  EXPECT_EQ(HtmlFragmentToText("<b>Bo</b>ld &amp; <i>new</i>"), "Bold & new");
  EXPECT_EQ(HtmlFragmentToText("<td>I.</td><td>Mortlake&nbsp;Hall</td>"), "I. Mortlake Hall");
  EXPECT_EQ(HtmlFragmentToText("&#233;t&#xE9; &#x201C;q&#8221;"),
            "\xc3\xa9t\xc3\xa9 \xe2\x80\x9cq\xe2\x80\x9d");
  // What is not a reference this step knows stays as written.
  EXPECT_EQ(HtmlFragmentToText("a &unknown; &#0; &#xD800; &#; & b"),
            "a &unknown; &#0; &#xD800; &#; & b");
  EXPECT_EQ(HtmlFragmentToText("Line<br/>break"), "Line break");
  EXPECT_EQ(HtmlFragmentToText("cut <b"), "cut");
}

TEST(HtmlPreparer, MarkerStandsWhereTheTextAfterTheAnchorBegins) {
  // Inside the heading that follows, so it goes with the heading when the
  // renderer moves it to the next page; the heading's own marker (the book
  // has no contents page) stands there too.
  EXPECT_EQ(Prepared("<p>x</p><a id=\"filepos10\" /> <h2 class=\"c\">Title</h2>"),
            "<p>x</p><a id=\"filepos10\" /> <h2 class=\"c\">" + Marker("a10") + Marker("h0") +
                "Title</h2>");
  // Past the end of the paragraph it closes, into the next one.
  EXPECT_EQ(Prepared("<p>end<a id=\"filepos5\" /></p><p>next</p>"),
            "<p>end<a id=\"filepos5\" /></p><p>" + Marker("a5") + "next</p>");
  // In running text, right where it is; two anchors at one place both get one.
  EXPECT_EQ(Prepared("<p>one <a id=\"filepos7\" /><a id=\"filepos8\" />two</p>"),
            "<p>one <a id=\"filepos7\" /><a id=\"filepos8\" />" + Marker("a7") + Marker("a8") +
                "two</p>");
  // Never into a table's rows, nor past the end of the body.
  EXPECT_EQ(Prepared("<a id=\"filepos3\" /><table><tr><td>c</td></tr></table>"),
            "<a id=\"filepos3\" />" + Marker("a3") + "<table><tr><td>c</td></tr></table>");
  EXPECT_EQ(Prepared("<p>last<a id=\"filepos9\" /></p></body></html>"),
            "<p>last<a id=\"filepos9\" /></p>" + Marker("a9") + "</body></html>");
}

// Every link to a place of the book names its marker, whatever form the
// book gave it, so that every engine keeps it whichever piece it lands in.
TEST(HtmlPreparer, LinksNameTheMarkersOfTheirPlaces) {
  EXPECT_EQ(Prepared("<a  filepos=00042 class=\"x\">go</a><a href=\"#filepos7\">ok</a>"
                     "<a href='#ch-1'>c</a>"),
            "<a href=\"bookconv-link:a42\"  filepos=00042 class=\"x\">go</a>"
            "<a href=\"bookconv-link:a7\">ok</a><a href='bookconv-link:ich_2D1'>c</a>");
  // An anchor is not a link; a filepos with letters in it is not a place.
  EXPECT_EQ(Prepared("<a id=\"x\" filepos=12a>t</a>"), "<a id=\"x\" filepos=12a>t</a>");
}

// A contents page at the start of the book, without a page break after it:
// it ends where its first link lands, so the chapter's own links stay out.
TEST(HtmlPreparer, ContentsPageEndsWhereItsFirstLinkLands) {
  FinishPlan plan;
  Prepared(kDeclaration +
               "<html><head><guide><REFERENCE TYPE=\"TOC\" title=\"x\" filepos=00000012 "
               "/></guide></head><body><a id=\"filepos12\" /><h1>Contents</h1>"
               "<p><a href=\"#filepos100\">One</a></p><p><a href=\"#filepos200\">Two</a></p>"
               "<a id=\"filepos100\" /><h2>One</h2><p>See <a href=\"#filepos200\">two</a>.</p>"
               "<a id=\"filepos200\" /><h2>Two</h2></body></html>",
           &plan);
  EXPECT_EQ(Titles(plan), (std::vector<std::string>{"One", "Two"}));
  EXPECT_EQ(plan.outline[0].markKey, "a100");
  EXPECT_EQ(plan.outline[1].markKey, "a200");
}

// Lines as tables of contents write them: a number in one cell and the name
// in the next; nesting by lists and block quotes; a page break ends the page.
TEST(HtmlPreparer, ContentsLinesTakeTheirWholeLineAndNesting) {
  FinishPlan plan;
  Prepared(kDeclaration +
               "<guide><reference type=\"toc\" filepos=5 /></guide><a id=\"filepos5\" />"
               "<table><tr><td><a href=\"#filepos1\">Chapter 1.</a></td><td>Mr. Holmes</td></tr>"
               "<tr><td>II.</td><td>The Curse,</td><td><a  filepos=02>7</a></td></tr></table>"
               "<ul><li><a href=\"#filepos3\">Part</a><ul><li><a href=\"#filepos4\">Sub "
               "&amp; more</a></li></ul></li><li><a href=\"#filepos6\">Next</a></li></ul>"
               "<blockquote><blockquote><a href=\"#filepos7\">Deep</a></blockquote></blockquote>"
               "<a href=\"#filepos8\"><img src=\"x.png\"/></a>"
               "<mbp:pagebreak/><p><a href=\"#filepos9\">After the page</a></p>",
           &plan);
  EXPECT_EQ(Titles(plan), (std::vector<std::string>{"Chapter 1. Mr. Holmes", "II. The Curse, 7",
                                                    "Part", "Sub & more", "Next", "Deep"}));
  EXPECT_EQ(Depths(plan), (std::vector<int>{0, 0, 1, 2, 1, 2}));
  EXPECT_EQ(plan.outline[1].markKey, "a2");
}

TEST(HtmlPreparer, HeadingsMakeTheOutlineWhenTheGuideNamesNoPlaceThatExists) {
  FinishPlan plan;
  const std::string html =
      Prepared(kDeclaration + "<guide><reference type=\"toc\" filepos=77 /></guide><body>"
                              "<h1>Book</h1><h2 id=\"c\">Chapter <i>one</i></h2><h3> </h3>"
                              "<h2>Two</h2></body>",
               &plan);
  EXPECT_EQ(Titles(plan), (std::vector<std::string>{"Book", "Chapter one", "Two"}));
  EXPECT_EQ(Depths(plan), (std::vector<int>{1, 2, 2}));
  EXPECT_NE(html.find("<h2 id=\"c\">" + Marker(plan.outline[1].markKey) + "Chapter"),
            std::string::npos);
  // The empty heading gets no marker.
  EXPECT_NE(html.find("<h3> </h3>"), std::string::npos);
}

// The library's contents list wins over a contents page and the headings;
// its targets are any element ids, which get markers like filepos anchors.
TEST(HtmlPreparer, TheContentsListMakesTheOutlineAndItsTargetsGetMarkers) {
  FinishPlan plan;
  const std::string html = Prepared(
      kDeclaration +
          "<guide><reference type=\"toc\" filepos=5 /></guide><body><a id=\"filepos5\" />"
          "<p><a href=\"#filepos9\">Page entry</a></p><h1 id=\"p1-ch 1\">One</h1>"
          "<div id=\"unlinked\"><p id=\"sec\">Sub</p></div><a id=\"filepos9\" /><h2>Two</h2>"
          "<nav id=\"bookconv-contents\" style=\"display:none\"><ol><li><a href=\"#p1-ch 1\">"
          "One &amp; only</a><ol><li><a href=\"#sec\">Sub</a></li></ol></li><li><a>No place</a>"
          "</li><li><a href=\"#filepos009\">Two</a></li></ol></nav></body>",
      &plan);
  EXPECT_EQ(Titles(plan), (std::vector<std::string>{"One & only", "Sub", "No place", "Two"}));
  EXPECT_EQ(Depths(plan), (std::vector<int>{0, 1, 0, 0}));
  EXPECT_EQ(plan.outline[0].markKey, finishing::IdMarkKey("p1-ch 1"));
  EXPECT_EQ(plan.outline[0].markKey, "ip1_2Dch_201");
  EXPECT_EQ(plan.outline[2].markKey, "");
  EXPECT_EQ(plan.outline[3].markKey, "a9");
  EXPECT_NE(html.find("<h1 id=\"p1-ch 1\">" + Marker("ip1_2Dch_201") + "One"), std::string::npos);
  EXPECT_NE(html.find("<p id=\"sec\">" + Marker("isec") + "Sub"), std::string::npos);
  EXPECT_EQ(html.find("iunlinked"), std::string::npos); // no link names it
}

TEST(HtmlPreparer, NoContentsAndNoHeadingsGiveNoOutline) {
  FinishPlan plan;
  Prepared(kDeclaration + "<p>Just text, <a href=\"#filepos1\">a link</a>.</p>", &plan);
  EXPECT_TRUE(plan.outline.empty());
}

std::string WithCover(std::string html,
                      const finishing::BookCover &cover = {"tmpData_files/cover.jpg"}) {
  finishing::PrepareHtmlText(html, cover);
  return html;
}

const std::string kCoverPage =
    "<div style=\"page-break-after:always;text-align:center\"><img "
    "src=\"tmpData_files/cover.jpg\" alt=\"\" style=\"max-width:100%;max-height:250mm\"/></div>";

TEST(CoverPage, GoesFirstInTheBodyWhenTheBookShowsNoCover) {
  EXPECT_EQ(WithCover(kDeclaration + "<html><body class=\"b\"><p>Text</p></body></html>"),
            kDeclaration + "<html><body class=\"b\">" + kCoverPage + "<p>Text</p></body></html>");
  EXPECT_EQ(WithCover(kDeclaration + "<p>Text</p>"), kDeclaration + kCoverPage + "<p>Text</p>");
}

TEST(CoverPage, NotAddedWhenTheBookShowsItOrACopyOrHasNone) {
  const std::string shows = kDeclaration + "<body><img src=\"x.jpg\"/><img "
                                           "src='tmpData_files/cover.jpg'/></body>";
  EXPECT_EQ(WithCover(shows), shows);
  const std::string showsCopy =
      kDeclaration + "<body><img src=\"x.jpg\"/><img src=\"tmpData_files/image_3.jpg\"/></body>";
  EXPECT_EQ(WithCover(showsCopy, {"tmpData_files/cover.jpg", {"tmpData_files/image_3.jpg"}}),
            showsCopy);
  EXPECT_NE(WithCover(showsCopy), showsCopy);
  const std::string plain = kDeclaration + "<body><p>Text</p></body>";
  EXPECT_EQ(WithCover(plain, {}), plain);
}

// Dates as books and renderers write them, in XMP's form; anything else is
// left out rather than guessed at.
TEST(XmpDates, BookAndPdfDatesInIsoForm) {
  const std::pair<std::string, std::string> bookDates[] = {
      {"2001-10-01", "2001-10-01"},
      {" 1931 ", "1931"},
      {"2025-04-28 18:16:24.255372+00:00", "2025-04-28T18:16:24.255372+00:00"},
      {"1999-12-01T00:00:00+0100", "1999-12-01T00:00:00+01:00"},
      {"2009-05-04T10:20Z", "2009-05-04T10:20Z"},
      {"June 2008", ""},
      {"2008-06-04 noon", ""},
      {"2008-06T10:00", ""}};
  for (const auto &[given, expected] : bookDates)
    EXPECT_EQ(finishing::XmpDate(given).value_or(""), expected) << given;
  const std::pair<std::string, std::string> pdfDates[] = {
      {"D:20261208073000+01'00'", "2026-12-08T07:30:00+01:00"},
      {"D:20261208073000Z", "2026-12-08T07:30:00Z"},
      {"D:202612", "2026-12"},
      {"yesterday", ""}};
  for (const auto &[given, expected] : pdfDates)
    EXPECT_EQ(finishing::XmpDateOfPdfDate(given).value_or(""), expected) << given;
}

} // namespace
