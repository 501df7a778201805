// Palm Database container: the header and the record list.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

class PdbHeader {
public:
  static constexpr std::uint32_t kHeaderSize = 78;
  static constexpr std::uint32_t kRecordEntrySize = 8;

  // Reads the header and record list from the start of the book's bytes.
  // Returns true when the whole list was there. A list cut short by the end
  // of the file keeps only the entries whose offset is there in full, so no
  // later step trusts a count the file cannot back.
  bool read(std::span<const std::uint8_t> file);

  std::string databaseName;           // 32 bytes as stored
  std::uint16_t attributes = 0;
  std::string typeCreator;            // 8 bytes: type then creator
  std::vector<std::uint32_t> recordOffsets; // absolute start of each record
};
