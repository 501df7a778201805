// The EXTH metadata block of a header record, and the full title.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <string>

#include "common/byte_reader.h"

// The book's descriptive facts by name ("language", "publisher", ...), as the
// book stores them; several records of one name are joined by "\n".
using BookFacts = std::map<std::string, std::string, std::less<>>;

struct ExthFields {
  static constexpr std::uint32_t kNone = 0xFFFFFFFF;

  std::optional<std::string> author;  // "Last, First" turned to "First Last"
  std::uint32_t coverOffset = kNone;  // EXTH 201, from the first image record
  std::uint32_t kf8Boundary = kNone;  // EXTH 121: the KF8 header record
  // EXTH 116, the reading start: a raw flow-0 position in a KF8 text, a
  // filepos in a MOBI6 one; the last copy, as some makers write a wrong one
  // before it.
  std::optional<std::uint32_t> startPosition;
  bool dictionary = false;            // EXTH 531 or 532 (dictionary languages)
  BookFacts facts;
};

// Calls `visit(type, data)` for each EXTH record of `header` in order, when
// its EXTH flag is set and the block is there. The walk ends with the record
// however many records the block claims.
void ForEachExthRecord(
    const ByteReader &header,
    const std::function<void(std::uint32_t type, const ByteReader &data)> &visit);

ExthFields ReadExth(const ByteReader &header);

// The full name from the MOBI header, up to its first NUL; none when it is
// empty or lies outside the record.
std::optional<std::string> FullName(const ByteReader &header);
