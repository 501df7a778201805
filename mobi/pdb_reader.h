// Palm Database container: the header, the record list and the integer
// readers that take one field straight from the book file.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tarn_tool.h"

namespace PdbUtil {
// Each reads one big- (or little-) endian integer at the file's position and
// returns false when the file ended first; the value is then 0.
bool ReadUnsignedShort(FILES *file, std::uint16_t &value);
bool ReadUnsignedLongBE(FILES *file, std::uint32_t &value);
bool ReadUnsignedLongLE(FILES *file, std::uint32_t &value);
} // namespace PdbUtil

class PdbHeader {
public:
  static constexpr std::uint32_t kHeaderSize = 78;
  static constexpr std::uint32_t kRecordEntrySize = 8;

  // Reads the header and record list from the file's position. Returns true
  // when the whole list was there. A list cut short by the end of the file
  // keeps only the entries read in full, so no later step trusts a count the
  // file cannot back.
  bool read(FILES *file);

  // Bytes from the start of the record at `index` to the next record start in
  // the file, whatever the list order; UINT32_MAX when no record follows it.
  std::uint32_t ExtentInFile(std::uint32_t index) const;

  std::string databaseName;           // 32 bytes as stored
  std::uint16_t attributes = 0;
  std::string typeCreator;            // 8 bytes: type then creator
  std::vector<std::uint32_t> recordOffsets; // absolute start of each record

private:
  std::vector<std::uint32_t> sortedOffsets_; // recordOffsets in file order
};
