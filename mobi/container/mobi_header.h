// A section's header record (record 0, or a hybrid's KF8 header record): the
// PalmDOC header and the MOBI header fields the unpacking steps consult.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "common/byte_reader.h"

// A record index field that names no record.
constexpr std::uint32_t kNullIndex = 0xFFFFFFFF;

// The header fields as stored. An index field that lies outside the header
// (a short MOBI header) reads as kNullIndex, any other absent field as 0.
struct MobiHeader {
  static constexpr std::uint16_t kNoCompression = 1;
  static constexpr std::uint16_t kPalmDoc = 2;
  static constexpr std::uint16_t kHuffCdic = 17480;
  static constexpr std::uint32_t kKf8Version = 8;

  std::uint16_t compression = 0;
  std::uint32_t textLength = 0;
  std::uint16_t textRecordCount = 0;
  std::uint16_t textRecordSize = 0;
  std::uint16_t encryption = 0;
  bool mobiIdentifier = false;    // "MOBI" where the MOBI header starts
  std::uint32_t headerLength = 0; // of the MOBI header; 0 without one
  std::uint32_t textEncoding = 0;
  std::uint32_t fileVersion = 0;
  std::uint32_t orthographicIndex = kNullIndex; // offset 40: set in dictionaries
  std::uint32_t headerValue40 = 0;              // the same field, 0 when absent
  std::uint32_t headerValue44 = 0;
  std::uint32_t firstImageRecord = 0; // the first resource record in KF8
  std::uint32_t huffRecordIndex = 0;
  std::uint32_t huffRecordCount = 0;
  std::uint32_t exthFlags = 0;
  // The full name's place in the record, as stored (not checked against it).
  std::uint32_t fullNameOffset = 0;
  std::uint32_t fullNameLength = 0;
  std::uint32_t fdstIndex = kNullIndex;
  std::uint32_t fdstCount = 0;
  // Trailing-entry flags of the text records; 0 when the MOBI header is too
  // short to hold them.
  std::uint32_t extraDataFlags = 0;
  std::uint32_t ncxIndex = kNullIndex;
  std::uint32_t fragmentIndex = kNullIndex;
  std::uint32_t skeletonIndex = kNullIndex;
  std::uint32_t datpIndex = kNullIndex;
  std::uint32_t guideIndex = kNullIndex;

  // A KF8 header: file version 8, long enough for its index fields, and a
  // skeleton index (old books carry stray version numbers).
  bool IsKf8() const;
  // Whether the EXTH flag says an EXTH block follows the MOBI header.
  bool HasExth() const;
  // Where the EXTH block would start: right after the MOBI header.
  std::uint64_t ExthStart() const;
};

// The header of `record`; nothing when it is too short for the PalmDOC
// header's first four fields (compression to encryption).
std::optional<MobiHeader> ReadMobiHeader(const ByteReader &record);

// Whether the library can decode the text the header describes: 0, 7 for an
// unknown compression, 8 for a text record size of 0, 9 for an encrypted book.
int CheckTextFields(const MobiHeader &header);

// The record-0 fields later steps consult.
struct PdbRecord0 {
  static constexpr std::uint16_t kNoCompression = MobiHeader::kNoCompression;
  static constexpr std::uint16_t kPalmDoc = MobiHeader::kPalmDoc;
  static constexpr std::uint16_t kHuffCdic = MobiHeader::kHuffCdic;

  std::uint32_t firstImageRecord = 0;
  std::uint16_t textRecordCount = 0;
  std::uint16_t textRecordSize = 4096;
  std::uint16_t compression = 0;
  std::uint32_t headerValue40 = 0;
  std::uint32_t headerValue44 = 0;
  std::uint32_t textEncoding = 0;
  std::uint32_t extraDataFlags = 0;
  std::optional<std::string> title;
  std::optional<std::string> author;
};
