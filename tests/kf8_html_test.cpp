#include "kf8/kf8_html.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "html_checks.h"
#include "kf8_flow_builder.h"
#include "kf8/kf8_links.h"

namespace {

using testbook::Kf8FlowBuilder;

std::size_t Count(const std::string &text, const std::string &what) {
  std::size_t count = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
    ++count;
  return count;
}

class Kf8HtmlTest : public ::testing::Test {
protected:
  Kf8HtmlTest() {
    book.Add("<html><head><link rel=\"stylesheet\" href=\"kindle:flow:0001?mime=text/css\"/></head>"
             "<body class=\"c0\" aid=\"0\"><div aid=\"1\"></div></body></html>",
             {{119, "<p id=\"note\">Hello <a href=\"#note\">self</a> <a href=\"" +
                        Kf8FlowBuilder::Placeholder('0') + "\">to ch2</a> <a href=\"" +
                        Kf8FlowBuilder::Placeholder('1') +
                        "\">to plain</a> <a href=\"kindle:pos:fid:0099:off:0000000000\">lost</a>"
                        "<img src=\"kindle:embed:0002?mime=image/jpeg\"/></p>"}});
    book.Add(
        "<html><head></head><body><div></div></body></html>",
        {{30,
          "<h2 id=\"ch2\" aid=\"5\">Chapter 2</h2><p id=\"note\" data-AmznPageBreak=\"always\">x"
          "<a href=\"#note\">n</a><a href=\"#missing\">m</a></p><h3>Plain</h3>"},
         {30, "<img src=\"kindle:flow:0002?mime=image/svg+xml\"/>"}});
    book.Add("<html><body><p>The end</p></body></html>", {});
    book.FillLinks({book.PositionOf(1, "<h2"), book.PositionOf(1, "<h3")});
    text = book.flow0 + "@media amzn-mobi{p{x:y}}p{color:red}" +
           "<?xml version=\"1.0\"?><svg><image xlink:href=\"kindle:embed:0001\" aid=\"9\"/></svg>";
    const std::string_view all = text;
    flows = {{all.substr(0, book.flow0.size()), FlowKind::Markup},
             {all.substr(book.flow0.size(), 36), FlowKind::StyleSheet},
             {all.substr(book.flow0.size() + 36), FlowKind::Svg}};
    contents = {
        {"Chapter 2", 0, std::nullopt, std::nullopt, 1,
         book.PositionOf(1, "<h2") - book.fragments[1].insertPosition},
        {"The <end>", 0, std::nullopt, book.PositionOf(2, "end"), std::nullopt, std::nullopt},
        {"Plain", 1, 0, book.PositionOf(1, "<h3"), std::nullopt, std::nullopt}};
  }

  std::string Write() {
    const auto parts = AssembleParts(book.flow0, book.skeletons, book.fragments);
    EXPECT_TRUE(parts);
    const Kf8Document document{*parts, flows,        book.fragments, contents,
                               guide,  std::nullopt, "A & B",        resources};
    std::FILE *file = std::tmpfile();
    std::string startId;
    EXPECT_TRUE(WriteKf8Html(file, document, startId));
    std::string html(static_cast<std::size_t>(std::ftell(file)), '\0');
    std::rewind(file);
    EXPECT_EQ(std::fread(html.data(), 1, html.size(), file), html.size());
    std::fclose(file);
    return html;
  }

  Kf8FlowBuilder book;
  std::string text;
  std::vector<Flow> flows;
  std::vector<NcxEntry> contents;
  std::vector<GuideEntry> guide;
  Kf8Resources resources{{"", "b_files/image_1.jpg", "b_files/image_2.png"}};
};

TEST_F(Kf8HtmlTest, OneDocumentWithEveryLinkResolved) {
  const std::string html = Write();
  EXPECT_EQ(html.rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html><head>", 0), 0u);
  EXPECT_EQ(Count(html, "<?xml"), 1u);
  EXPECT_EQ(Count(html, "<head>"), 1u);
  EXPECT_EQ(Count(html, "kindle:"), 0u);
  EXPECT_EQ(Count(html, " aid="), 0u);
  testbook::ExpectEveryLinkHasItsTarget(html);

  EXPECT_NE(
      html.find("<title>A &amp; B</title><style type=\"text/css\">p{color:red}</style>\n</head>"),
      std::string::npos);
  EXPECT_NE(html.find("<div class=\"bookconv-part c0\" id=\"p0\"><div><p id=\"p0-note\">Hello <a "
                      "href=\"#p0-note\">self</a>"),
            std::string::npos);
  EXPECT_NE(html.find("<div class=\"bookconv-part\" id=\"p1\" "
                      "style=\"page-break-before:always\"><div><h2 id=\"p1-ch2\">"),
            std::string::npos);
  // The link to a tag with an id reuses it; the tag without one gets one.
  EXPECT_NE(html.find("<a href=\"#p1-ch2\">to ch2</a>"), std::string::npos);
  const std::size_t plain = html.find("<h3 id=\"kf8-");
  ASSERT_NE(plain, std::string::npos);
  const std::string plainId = html.substr(plain + 8, html.find('"', plain + 8) - plain - 8);
  EXPECT_NE(html.find("<a href=\"#" + plainId + "\">to plain</a>"), std::string::npos);
  // Unresolved targets keep their text and lose the link.
  EXPECT_NE(html.find("<a>lost</a>"), std::string::npos);
  EXPECT_NE(html.find("<a href=\"#p1-note\">n</a><a>m</a>"), std::string::npos);
  EXPECT_NE(html.find("<p id=\"p1-note\" style=\"page-break-after:always\">"), std::string::npos);
  EXPECT_NE(html.find("<img src=\"b_files/image_2.png\"/>"), std::string::npos);
  EXPECT_NE(html.find("<svg><image xlink:href=\"b_files/image_1.jpg\"/></svg></div></div>"),
            std::string::npos)
      << "the SVG flow takes the picture's place";
  // A target in running text gets an element of its own, exactly there.
  const std::size_t end = html.find("<p>The <a id=\"kf8-");
  ASSERT_NE(end, std::string::npos);
  const std::string endId = html.substr(end + 14, html.find('"', end + 14) - end - 14);
  EXPECT_NE(html.find("\"></a>end</p>"), std::string::npos);

  EXPECT_NE(html.find("<nav id=\"bookconv-contents\" style=\"display:none\"><ol>"
                      "<li><a href=\"#p1-ch2\">Chapter 2</a><ol><li><a href=\"#" +
                      plainId +
                      "\">Plain</a></li></ol></li>"
                      "<li><a href=\"#" +
                      endId + "\">The &lt;end&gt;</a></li></ol></nav>\n</body></html>\n"),
            std::string::npos);
}

TEST_F(Kf8HtmlTest, TargetsInsideTagsAndOutsideBodies) {
  contents = {
      {"inside", 0, std::nullopt, book.PositionOf(1, "id=\"ch2\""), std::nullopt, std::nullopt},
      {"head", 0, std::nullopt, book.PositionOf(1, "<head>"), std::nullopt, std::nullopt},
      {"end", 0, std::nullopt, book.PositionOf(2, "</body>") + 2, std::nullopt, std::nullopt},
      {"past", 0, std::nullopt, 0xFFFFFFF0u, std::nullopt, std::nullopt},
      {"bad fid", 0, std::nullopt, std::nullopt, 4000, 0}};
  const std::string html = Write();
  testbook::ExpectEveryLinkHasItsTarget(html);
  // Inside the <h2> tag: the element after it, the text node, gets an anchor.
  EXPECT_NE(html.find("<h2 id=\"p1-ch2\"><a id=\"kf8-"), std::string::npos);
  EXPECT_NE(html.find("<li><a href=\"#p1\">head</a></li>"), std::string::npos) << "the part's top";
  EXPECT_NE(html.find("\"></a></div>\n<nav"), std::string::npos) << "past </body>: the body's end";
  EXPECT_NE(html.find("<li><a>past</a></li><li><a>bad fid</a></li>"), std::string::npos);
}

TEST(Kf8LinksTest, PositionAddresses) {
  std::vector<FragmentEntry> fragments(2);
  fragments[0].insertPosition = 100;
  fragments[1].insertPosition = 250;
  EXPECT_EQ(LinkPosition(fragments, "kindle:pos:fid:0001:off:000000000A"), 260u);
  EXPECT_FALSE(LinkPosition(fragments, "kindle:pos:fid:0002:off:0000000000"));
  EXPECT_FALSE(LinkPosition(fragments, "kindle:pos:fid:0001"));
}

} // namespace
