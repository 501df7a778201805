// Test-only KF8 writer: every record of a KF8 section (its header, its text
// of flow 0 and the further flows, the FDST record, the skeleton, fragment,
// contents and guide indexes, its resources) from a book described by its
// parts and places, as a KF8-only book or as the KF8 half of a hybrid.
//
//   testbook::Kf8Book book;
//   book.flow0.Add("<html><body><div></div></body></html>", {{17, "<p>Hello</p>"}});
//   book.contents.push_back({"Hello", 0, std::nullopt, book.flow0.PositionOf(0, "<p>")});
//   testbook::Bytes file = testbook::BuildBook(testbook::Kf8BookSpec(book));
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "kf8_flow_builder.h"
#include "mobi_writer.h"

namespace testbook {

// One contents (NCX) entry; entries are listed by depth, then by position.
struct Kf8ContentsEntry {
  std::string label;
  std::uint32_t depth = 0;
  std::optional<std::uint32_t> parent; // entry index
  std::uint32_t position = 0;          // assembled flow-0 position
};

struct Kf8GuideEntry {
  std::string type; // "text", "toc", ...
  std::string title;
  std::uint32_t position = 0; // assembled flow-0 position
};

struct Kf8Book {
  Kf8FlowBuilder flow0;
  std::vector<std::string> flows; // flows 1, 2, ...: style sheets, SVG pictures
  std::vector<Kf8ContentsEntry> contents;
  std::vector<Kf8GuideEntry> guide;
  std::vector<Bytes> resources; // "kindle:embed:0001" is the first
  std::vector<ExthRecord> exth;
  std::uint16_t compression = 1;         // 1, 2 (PalmDOC) or 17480 (HUFF/CDIC)
  std::uint16_t extraDataFlags = 0;      // trailing entries after each text record
  std::size_t entriesPerIndexRecord = 0; // 0: each index in one data record
};

// An FDST record of `ranges` (start, end), claiming `count` flows.
Bytes FdstRecord(const std::vector<std::pair<std::uint32_t, std::uint32_t>> &ranges,
                 std::uint32_t count);

// The book as a KF8-only one: its KF8 header with the records after it, in
// this order: text, resources, HUFF/CDIC, FDST, the skeleton, fragment,
// contents and guide indexes (those it has), end of file.
BookSpec Kf8BookSpec(const Kf8Book &book);

// The same rendition as the KF8 half of a hybrid whose MOBI6 half holds
// `mobi6Text` and, as hybrids do, the resources of both.
HybridSpec Kf8HybridSpec(const Kf8Book &book, const std::string &mobi6Text);

} // namespace testbook
