#include "linked_book.h"

#include <cstdio>

#include "mobi_writer.h"

namespace {

constexpr std::size_t kParagraphSize = 262; // 20,000 paragraphs make about 5 MB

// Paragraphs of equal size, each opening with a link to another paragraph.
std::string LinkedText(std::size_t links) {
  const std::string filler =
      "It was a bright cold day in April, and the clocks were striking thirteen; the hallway "
      "smelt of boiled cabbage and old rag mats, and at one end of it a coloured poster had been "
      "tacked to the wall. ";
  std::string text;
  text.reserve(links * kParagraphSize);
  for (std::size_t i = 0; i < links; ++i) {
    char link[64];
    std::snprintf(link, sizeof link, "<p><a filepos=%010zu>see</a> ", (i * 7919 % links) * kParagraphSize);
    std::string paragraph = link + filler;
    paragraph.resize(kParagraphSize - 4, '.');
    text += paragraph + "</p>";
  }
  return text;
}

} // namespace

void WriteLinkedBook(const std::string &path, std::size_t paragraphs) {
  testbook::BookSpec spec;
  spec.textRecords = testbook::SplitText(LinkedText(paragraphs));
  testbook::WriteFile(path, testbook::BuildBook(spec));
}
