#include "linked_book.h"

#include <algorithm>
#include <cstdio>

#include "kf8_writer.h"
#include "mobi_writer.h"
#include "sample_books.h"

namespace {

constexpr std::size_t kParagraphSize = 262; // 20,000 paragraphs make about 5 MB
constexpr std::size_t kFragmentsPerChapter = 4;
constexpr std::size_t kParagraphsPerFragment = 25;

// A paragraph of kParagraphSize bytes that opens with `link`.
std::string Paragraph(const std::string &link) {
  const std::string filler =
      "It was a bright cold day in April, and the clocks were striking thirteen; the hallway "
      "smelt of boiled cabbage and old rag mats, and at one end of it a coloured poster had been "
      "tacked to the wall. ";
  std::string paragraph = link + filler;
  paragraph.resize(kParagraphSize - 4, '.');
  return paragraph + "</p>";
}

// Paragraphs of equal size, each opening with a link to another paragraph.
std::string LinkedText(std::size_t links) {
  std::string text;
  text.reserve(links * kParagraphSize);
  for (std::size_t i = 0; i < links; ++i) {
    char link[64];
    std::snprintf(link, sizeof link, "<p><a filepos=%010zu>see</a> ",
                  (i * 7919 % links) * kParagraphSize);
    text += Paragraph(link);
  }
  return text;
}

// Chapter `index`'s fragments, linking to the headings before it.
std::vector<std::pair<std::size_t, std::string>>
ChapterFragments(const testbook::Kf8Book &book, std::size_t index,
                 const std::vector<std::uint32_t> &headings, std::size_t at) {
  std::vector<std::pair<std::size_t, std::string>> fragments;
  std::size_t paragraph = 0;
  for (std::size_t f = 0; f < kFragmentsPerChapter; ++f) {
    std::string text = f == 0 ? "<h2>Chapter " + std::to_string(index + 1) +
                                    "</h2><p><img src=\"kindle:embed:0001?mime=image/gif\"/></p>"
                              : "";
    for (std::size_t p = 0; p < kParagraphsPerFragment; ++p, ++paragraph) {
      const std::size_t target =
          (index * 7919 + paragraph) % std::max<std::size_t>(headings.size(), 1);
      text +=
          Paragraph(headings.empty() ? "<p>"
                                     : "<p><a href=\"" + book.flow0.PosAddress(headings[target]) +
                                           "\">see</a> ");
    }
    fragments.emplace_back(at, std::move(text));
  }
  return fragments;
}

} // namespace

void WriteLinkedBook(const std::string &path, std::size_t paragraphs) {
  testbook::BookSpec spec;
  spec.textRecords = testbook::SplitText(LinkedText(paragraphs));
  testbook::WriteFile(path, testbook::BuildBook(spec));
}

void WriteLinkedKf8Book(const std::string &path, std::size_t chapters) {
  const std::string skeleton = "<html><head><link rel=\"stylesheet\" type=\"text/css\" "
                               "href=\"kindle:flow:0001?mime=text/css\"/></head>"
                               "<body aid=\"0\"><div aid=\"1\"></div></body></html>";
  testbook::Kf8Book book;
  book.entriesPerIndexRecord = 500;
  book.flows = {"h2 { page-break-before: always } p { text-indent: 1em }"};
  book.resources = {testbook::TinyGif()};
  std::vector<std::uint32_t> headings;
  for (std::size_t i = 0; i < chapters; ++i) {
    book.flow0.Add(skeleton, ChapterFragments(book, i, headings, skeleton.find("</div>")));
    headings.push_back(book.flow0.PositionOf(i, "<h2>"));
    book.contents.push_back({"Chapter " + std::to_string(i + 1), 0, std::nullopt, headings.back()});
  }
  testbook::WriteFile(path, testbook::BuildBook(testbook::Kf8BookSpec(book)));
}
