#include "container/exth_header.h"

#include <array>
#include <cstring>
#include <string_view>

#include "container/mobi_header.h"

namespace {

constexpr std::uint32_t kExthAuthor = 100;
constexpr std::uint32_t kExthStartPosition = 116;
constexpr std::uint32_t kExthKf8Boundary = 121;
constexpr std::uint32_t kExthCoverOffset = 201;
constexpr std::uint32_t kExthDictionaryInput = 531;
constexpr std::uint32_t kExthDictionaryOutput = 532;

struct FactRecord {
  std::uint32_t type;
  std::string_view name;
};

// The text records a caller may ask for by name.
constexpr std::array kFactRecords{
    FactRecord{101, "publisher"},        FactRecord{103, "description"},
    FactRecord{104, "isbn"},             FactRecord{105, "subject"},
    FactRecord{106, "date"},             FactRecord{113, "asin"},
    FactRecord{122, "fixed-layout"},     FactRecord{124, "orientation-lock"},
    FactRecord{126, "original-resolution"}, FactRecord{524, "language"},
    FactRecord{525, "primary-writing-mode"}, FactRecord{527, "page-progression-direction"},
};

void AddFact(BookFacts &facts, std::uint32_t type, const ByteReader &data) {
  for (const FactRecord &record : kFactRecords) {
    if (record.type != type)
      continue;
    std::string value(data.Bytes().begin(), data.Bytes().end());
    value.resize(std::strlen(value.c_str())); // some makers end a text with a NUL
    if (value.empty())
      return;
    std::string &stored = facts[std::string(record.name)];
    stored += (stored.empty() ? "" : "\n") + value;
    return;
  }
}

// "Last, First" becomes "First Last" at the first comma, bytes kept as they are.
std::string AuthorFromExth(std::string stored) {
  const std::size_t comma = stored.find(',');
  if (comma == std::string::npos)
    return stored;
  return stored.substr(comma + 1) + " " + stored.substr(0, comma);
}

} // namespace

void ForEachExthRecord(const ByteReader &header,
                       const std::function<void(std::uint32_t, const ByteReader &)> &visit) {
  const auto fields = ReadMobiHeader(header);
  if (!fields || !fields->HasExth())
    return;
  const std::uint64_t start = fields->ExthStart();
  if (!header.Holds(start, 12))
    return;
  if (std::memcmp(header.Slice(start, 4)->Bytes().data(), "EXTH", 4) != 0)
    return;
  const std::uint32_t count = *header.U32BE(start + 8);
  std::uint64_t at = start + 12;
  for (std::uint32_t i = 0; i < count; ++i) {
    const auto type = header.U32BE(at);
    const auto length = header.U32BE(at + 4);
    if (!type || !length)
      return;
    const std::uint32_t dataLength = *length > 8 ? *length - 8 : 0;
    const auto data = header.Slice(at + 8, dataLength);
    if (!data)
      return;
    visit(*type, *data);
    at += 8 + std::uint64_t{dataLength};
  }
}

ExthFields ReadExth(const ByteReader &header) {
  ExthFields fields;
  ForEachExthRecord(header, [&](std::uint32_t type, const ByteReader &data) {
    if (type == kExthAuthor && data.Size() > 0)
      fields.author = AuthorFromExth(std::string(data.Bytes().begin(), data.Bytes().end()));
    else if (type == kExthCoverOffset && data.Size() == 4)
      fields.coverOffset = *data.U32BE(0);
    else if (type == kExthKf8Boundary && data.Size() == 4)
      fields.kf8Boundary = *data.U32BE(0);
    else if (type == kExthStartPosition && data.Size() == 4)
      fields.startPosition = *data.U32BE(0);
    else if (type == kExthDictionaryInput || type == kExthDictionaryOutput)
      fields.dictionary = true;
    else
      AddFact(fields.facts, type, data);
  });
  return fields;
}

std::optional<std::string> FullName(const ByteReader &header) {
  const auto fields = ReadMobiHeader(header);
  if (!fields || fields->fullNameLength == 0)
    return std::nullopt;
  const auto name = header.Slice(fields->fullNameOffset, fields->fullNameLength);
  if (!name)
    return std::nullopt;
  const auto bytes = name->Bytes();
  std::string title(bytes.begin(), bytes.end());
  title.resize(std::strlen(title.c_str())); // a C text ends at its first NUL
  return title;
}
