// The book file held in memory: the container header and every record as a
// bounded view of the one buffer read at open.
#pragma once

#include <cstdint>
#include <span>
#include <vector>

#include "common/byte_reader.h"

class BookRecords {
public:
  // Takes the whole file and the record start offsets in list order. Each
  // record runs to the start of the next record in the list, or, when that
  // one starts before it, to the next record start in file order (or the end
  // of the file), clamped to the file: a damaged list yields short or empty
  // views, never a view outside the buffer.
  BookRecords(std::vector<std::uint8_t> file, const std::vector<std::uint32_t> &offsets);

  std::uint32_t Count() const { return static_cast<std::uint32_t>(records_.size()); }
  // Record `index`, or an empty view when there is none.
  ByteReader Record(std::uint32_t index) const {
    return index < records_.size() ? records_[index] : ByteReader();
  }
  // Every record, in list order.
  std::span<const ByteReader> All() const { return records_; }
  std::uint64_t FileSize() const { return file_.size(); }

private:
  std::vector<std::uint8_t> file_;
  std::vector<ByteReader> records_;
};
