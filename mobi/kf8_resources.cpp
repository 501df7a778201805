#include "kf8_resources.h"

#include <algorithm>

namespace {

constexpr std::uint32_t kNull = 0xFFFFFFFF;
constexpr std::size_t kTextRecordCount = 0x08;
constexpr std::size_t kFirstResource = 0x6C;

void AppendRange(std::vector<ByteReader> &list, std::span<const ByteReader> records,
                 std::uint64_t first, std::uint64_t end) {
  end = std::min<std::uint64_t>(end, records.size());
  if (first < end)
    list.insert(list.end(), records.begin() + static_cast<std::ptrdiff_t>(first),
                records.begin() + static_cast<std::ptrdiff_t>(end));
}

// The first resource record a KF8 header names, as an absolute index; when
// it names none, the record after the last text record.
std::uint64_t Kf8FirstResource(const ByteReader &header, std::uint32_t kf8Header) {
  const std::uint32_t first = header.U32BE(kFirstResource).value_or(kNull);
  if (first != kNull)
    return std::uint64_t{kf8Header} + first;
  return std::uint64_t{kf8Header} + header.U16BE(kTextRecordCount).value_or(0) + 1;
}

} // namespace

std::vector<ByteReader> Kf8ResourceRecords(std::span<const ByteReader> records,
                                           std::uint32_t kf8Header) {
  std::vector<ByteReader> list;
  if (kf8Header >= records.size())
    return list;
  if (kf8Header > 0) {
    const std::uint32_t mobi6First = records[0].U32BE(kFirstResource).value_or(kNull);
    if (mobi6First != kNull && mobi6First > 0)
      AppendRange(list, records, mobi6First, kf8Header - 1);
  }
  AppendRange(list, records, Kf8FirstResource(records[kf8Header], kf8Header), records.size());
  return list;
}
