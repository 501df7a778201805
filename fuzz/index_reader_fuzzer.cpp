// The index reader and its decoders on any records. The input is a run of
// records, each a big-endian 16-bit length and that many bytes; the first is
// the primary record. Whatever is read must lie inside the input.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "index/book_contents.h"
#include "index/book_index.h"
#include "fuzz_check.h"

namespace {

std::vector<ByteReader> SplitRecords(const std::uint8_t *data, std::size_t size) {
  std::vector<ByteReader> records;
  const ByteReader input(std::span(data, size));
  for (std::size_t at = 0; input.Holds(at, 2);) {
    const std::size_t length = *input.U16BE(at);
    records.push_back(input.Slice(at + 2, length).value_or(input.From(at + 2)));
    at += 2 + length;
  }
  return records;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::vector<ByteReader> records = SplitRecords(data, size);
  const auto table = ReadIndex(records, 0);
  if (!table)
    return 0;
  // Every entry takes at least its label-length byte.
  FUZZ_CHECK(table->entries.size() <= size);
  for (const IndexEntry &entry : table->entries)
    for (const auto &[tag, values] : entry.tags)
      for (std::uint32_t value : values)
        if (const auto text = table->CncxString(value))
          FUZZ_CHECK(text->size() <= 3 * size);
  const std::vector<NcxEntry> ncx = ReadNcx(*table);
  FUZZ_CHECK(ncx.size() == table->entries.size());
  const std::vector<ContentsEntry> contents = FileposContents(ncx);
  FUZZ_CHECK(contents.size() == ncx.size());
  ContentsNav(contents);
  FUZZ_CHECK(ReadSkeletons(*table).size() <= table->entries.size());
  FUZZ_CHECK(ReadFragments(*table).size() <= table->entries.size());
  FUZZ_CHECK(ReadGuide(*table).size() <= table->entries.size());
  return 0;
}
