#include "kf8/kf8_parts.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "kf8_flow_builder.h"
#include "kf8/kf8_flows.h"
#include "kf8_writer.h"
#include "mobi_writer.h"

namespace {

TEST(Kf8PartsTest, FragmentsGoWhereTheTablesSay) {
  testbook::Kf8FlowBuilder book;
  book.Add("<html><body><div></div><p></p></body></html>", {{17, "<b>one</b>"}, {26, "two"}});
  book.Add("<html><body>empty file</body></html>", {}); // a skeleton with no fragments
  book.Add("<html><body><div aid=\"0\"></div></body></html>", {{25, "three"}});
  const auto parts = AssembleParts(book.flow0, book.skeletons, book.fragments);
  ASSERT_TRUE(parts);
  ASSERT_EQ(parts->size(), 3u);
  std::uint32_t start = 0;
  for (std::size_t i = 0; i < 3; ++i) {
    EXPECT_EQ((*parts)[i].text, book.assembled[i]);
    EXPECT_EQ((*parts)[i].start, start) << "parts are contiguous in assembled coordinates";
    start = (*parts)[i].End();
  }
  EXPECT_EQ(start, book.flow0.size());
  EXPECT_EQ((*parts)[0].text, "<html><body><div><b>one</b></div><p>two</p></body></html>");
}

TEST(Kf8PartsTest, BadPositionsAreMendedOrRefused) {
  testbook::Kf8FlowBuilder book;
  book.Add("<html><body><p aid=\"0\">x</p><i></i></body></html>", {{23, "A"}, {31, "B"}});
  // Inside "<p aid=...>": the selector's aid puts it behind that tag.
  book.fragments[0].insertPosition = 15;
  // Past the part's end: clamped to it.
  book.fragments[1].insertPosition = 1000;
  auto parts = AssembleParts(book.flow0, book.skeletons, book.fragments);
  ASSERT_TRUE(parts);
  EXPECT_EQ((*parts)[0].text, "<html><body><p aid=\"0\">Ax</p><i></i></body></html>B");

  // Before the fragment inserted last: directly after it.
  book.fragments[0].insertPosition = 31;
  book.fragments[1].insertPosition = 12;
  parts = AssembleParts(book.flow0, book.skeletons, book.fragments);
  ASSERT_TRUE(parts);
  EXPECT_EQ((*parts)[0].text, "<html><body><p aid=\"0\">x</p><i>AB</i></body></html>");

  // Inside a tag with no aid to go by: left where it is.
  book.fragments[0].selector = "";
  book.fragments[0].insertPosition = 15;
  book.fragments[1].insertPosition = 1000;
  parts = AssembleParts(book.flow0, book.skeletons, book.fragments);
  ASSERT_TRUE(parts);
  EXPECT_EQ((*parts)[0].text.substr(0, 16), "<html><body><p A");

  testbook::Kf8FlowBuilder outside = book;
  outside.skeletons[0].length = static_cast<std::uint32_t>(book.flow0.size() + 1);
  EXPECT_FALSE(AssembleParts(outside.flow0, outside.skeletons, outside.fragments));
  outside = book;
  outside.skeletons[0].start = 0xFFFFFFF0u;
  EXPECT_FALSE(AssembleParts(outside.flow0, outside.skeletons, outside.fragments));
  testbook::Kf8FlowBuilder tooMany = book;
  tooMany.skeletons[0].fragmentCount = 3;
  EXPECT_FALSE(AssembleParts(tooMany.flow0, tooMany.skeletons, tooMany.fragments));
  // Fragment bytes past flow 0 are cut at its end.
  testbook::Kf8FlowBuilder longFragment = book;
  longFragment.fragments[1].length = 0xFFFFFFFFu;
  EXPECT_TRUE(AssembleParts(longFragment.flow0, longFragment.skeletons, longFragment.fragments));
}

TEST(Kf8PartsTest, SelectorAid) {
  EXPECT_EQ(SelectorAid("P-//*[@aid='0K']"), "0K");
  EXPECT_EQ(SelectorAid("S-//*[@aid='12AB']"), "12AB");
  EXPECT_EQ(SelectorAid("P-//*[@aid='0K"), "");
  EXPECT_EQ(SelectorAid(""), "");
}

TEST(Kf8FlowsTest, FlowsFromTheTable) {
  const std::string text = "<html>markup</html>p{color:red}<svg><image/></svg><![CDATA[x]]>";
  const testbook::Bytes record =
      testbook::FdstRecord({{0, 19}, {19, 31}, {31, 50}, {50, 9999}, {70, 60}}, 5);
  const auto flows = SplitFlows(text, ByteReader(record), 5);
  ASSERT_TRUE(flows);
  ASSERT_EQ(flows->size(), 5u);
  EXPECT_EQ((*flows)[0].text, "<html>markup</html>");
  EXPECT_EQ((*flows)[0].kind, FlowKind::Markup);
  EXPECT_EQ((*flows)[1].kind, FlowKind::StyleSheet);
  EXPECT_EQ((*flows)[2].kind, FlowKind::Svg);
  EXPECT_EQ((*flows)[3].text, "<![CDATA[x]]>") << "clamped to the text";
  EXPECT_EQ((*flows)[3].kind, FlowKind::StyleSnippet);
  EXPECT_TRUE((*flows)[4].text.empty()) << "a range past the text is empty";

  // The record claims more ranges than it holds: only those it holds count.
  const auto claimed =
      SplitFlows(text, ByteReader(testbook::FdstRecord({{0, 19}, {19, 31}}, 1000)), 1000);
  ASSERT_TRUE(claimed);
  EXPECT_EQ(claimed->size(), 2u);

  for (const std::uint32_t declared : {0u, 1u}) {
    const auto one = SplitFlows(text, ByteReader(), declared);
    ASSERT_TRUE(one);
    ASSERT_EQ(one->size(), 1u);
    EXPECT_EQ((*one)[0].text, text);
  }
  testbook::Bytes damaged = record;
  damaged[0] = 'X';
  EXPECT_FALSE(SplitFlows(text, ByteReader(damaged), 5));
  EXPECT_FALSE(SplitFlows(text, ByteReader(), 5)) << "several flows promised, no table";
  EXPECT_FALSE(SplitFlows(text, ByteReader(testbook::FdstRecord({}, 0)), 5));
}

} // namespace
