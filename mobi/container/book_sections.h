// Which records belong to which rendition of a book. A book is MOBI6 only,
// a hybrid (a MOBI6 section, a "BOUNDARY" record, then a KF8 section), or KF8
// only. A section is a header record and the records after it up to its end;
// every record index its header holds counts from that header record.
#pragma once

#include <cstdint>
#include <optional>

#include "container/book_records.h"

struct BookSection {
  std::uint32_t header = 0; // absolute index of the section's header record
  std::uint32_t end = 0;    // one past its last record

  bool Holds(std::uint32_t index) const { return index >= header && index < end; }
  // The absolute index of the record a header field names relative to the
  // header record; none for the null index 0xFFFFFFFF or a record outside
  // the section.
  std::optional<std::uint32_t> Record(std::uint32_t relative) const;
  // The first text record and how many of the `declared` ones the section holds.
  std::uint32_t FirstTextRecord() const { return header + 1; }
  std::uint32_t TextRecordCount(std::uint32_t declared) const;
};

enum class BookKind { Mobi6, Hybrid, Kf8 };

struct BookSections {
  BookKind kind = BookKind::Mobi6;
  std::optional<BookSection> mobi6;       // none in a KF8-only book
  std::optional<BookSection> kf8;         // none in a MOBI6-only book
  std::optional<std::uint32_t> boundary;  // the "BOUNDARY" record, when there is one
};

// Tells the sections apart. EXTH 121 of record 0 names the KF8 header record
// of a hybrid; when it is missing or names no KF8 header behind a BOUNDARY
// record, the first BOUNDARY record followed by one is taken. A BOUNDARY
// record without a KF8 header after it still ends the MOBI6 section.
BookSections FindSections(const BookRecords &records);
