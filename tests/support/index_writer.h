// Test-only index writer: builds the INDX records of one index (the primary
// record with its TAGX, the data records with their IDXT, the CNCX records)
// from entries and tag rows, so tests can hand the index reader small books.
//
//   testbook::Cncx strings;
//   testbook::IndexSpec ncx{testbook::NcxTagRows()};
//   ncx.entries.push_back({"0", {{1, {0}}, {3, {strings.Add("Chapter 1")}}, {4, {0}}}});
//   ncx.cncxRecords = strings.Records();
//   std::vector<testbook::Bytes> records = testbook::BuildIndex(ncx);
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "mobi_writer.h"

namespace testbook {

// One TAGX row. A row with endFlag 1 separates the rows of one control byte
// from those of the next.
struct TagRow {
  std::uint8_t tag = 0;
  std::uint8_t valuesPerEntry = 1;
  std::uint8_t mask = 0;
  std::uint8_t endFlag = 0;
};

struct IndexEntrySpec {
  std::string label; // raw bytes
  // Tag and its values (a multiple of the row's valuesPerEntry). A tag with a
  // multi-bit mask whose count does not fit the mask is written in the
  // byte-count form; a single-bit mask holds one group of values.
  std::vector<std::pair<std::uint8_t, std::vector<std::uint32_t>>> tags;
};

struct IndexSpec {
  explicit IndexSpec(std::vector<TagRow> rows) : tagRows(std::move(rows)) {}

  std::vector<TagRow> tagRows; // the control-byte count is the number of end flags
  std::vector<IndexEntrySpec> entries;
  std::vector<Bytes> cncxRecords;
  std::uint32_t encoding = 65001;
  std::size_t entriesPerRecord = 0; // 0: every entry in one data record
};

// CNCX strings, each a forward-VWI length and its bytes; a new record starts
// before one would pass 64 KiB, and the offsets jump to it as readers expect.
class Cncx {
public:
  // The CNCX offset of `text` (record << 16 | byte offset).
  std::uint32_t Add(std::string_view text);
  std::vector<Bytes> Records() const { return records_; }

private:
  std::vector<Bytes> records_;
};

// The forward variable-width form of `value`.
Bytes ForwardVwi(std::uint32_t value);

// The tag rows of a book's NCX: position (1), length (2), label (3), depth
// (4), fragment and offset (6, two values), parent (21), first and last
// child (22, 23), in two control bytes.
std::vector<TagRow> NcxTagRows();

// The primary record, the data records, then the CNCX records.
std::vector<Bytes> BuildIndex(const IndexSpec &spec);

} // namespace testbook
