#include "container/book_sections.h"

#include <algorithm>
#include <cstring>

#include "container/exth_header.h"
#include "container/mobi_header.h"

namespace {

constexpr char kBoundary[] = "BOUNDARY";

bool IsBoundary(const ByteReader &record) {
  return record.Holds(0, 8) && std::memcmp(record.Bytes().data(), kBoundary, 8) == 0;
}

// A KF8 header record: "MOBI" at 16 and file version 8.
bool IsKf8Header(const ByteReader &record) {
  const auto header = ReadMobiHeader(record);
  return header && header->mobiIdentifier && header->fileVersion == MobiHeader::kKf8Version;
}

// Whether `index` is a KF8 header record with a BOUNDARY record before it.
bool IsKf8AfterBoundary(const BookRecords &records, std::uint64_t index) {
  return index >= 2 && index < records.Count() &&
         IsBoundary(records.Record(static_cast<std::uint32_t>(index - 1))) &&
         IsKf8Header(records.Record(static_cast<std::uint32_t>(index)));
}

} // namespace

std::optional<std::uint32_t> BookSection::Record(std::uint32_t relative) const {
  if (relative == kNullIndex)
    return std::nullopt;
  const std::uint64_t absolute = std::uint64_t{header} + relative;
  if (absolute >= end)
    return std::nullopt;
  return static_cast<std::uint32_t>(absolute);
}

std::uint32_t BookSection::TextRecordCount(std::uint32_t declared) const {
  const std::uint32_t first = FirstTextRecord();
  return first < end ? std::min(declared, end - first) : 0;
}

BookSections FindSections(const BookRecords &records) {
  const std::uint32_t count = records.Count();
  BookSections sections;
  const ByteReader record0 = records.Record(0);
  const auto header = ReadMobiHeader(record0);
  if (header && header->IsKf8()) {
    sections.kind = BookKind::Kf8;
    sections.kf8 = BookSection{0, count};
    return sections;
  }
  sections.mobi6 = BookSection{0, count};
  std::optional<std::uint32_t> kf8;
  const std::uint32_t named = ReadExth(record0).kf8Boundary;
  if (IsKf8AfterBoundary(records, named))
    kf8 = named;
  for (std::uint32_t i = 1; !kf8 && i < count; ++i)
    if (IsBoundary(records.Record(i))) {
      if (!sections.boundary)
        sections.boundary = i;
      if (IsKf8AfterBoundary(records, std::uint64_t{i} + 1))
        kf8 = i + 1;
    }
  if (kf8) {
    sections.kind = BookKind::Hybrid;
    sections.boundary = *kf8 - 1;
    sections.kf8 = BookSection{*kf8, count};
  }
  if (sections.boundary)
    sections.mobi6->end = *sections.boundary;
  return sections;
}
