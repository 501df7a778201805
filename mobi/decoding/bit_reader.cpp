#include "decoding/bit_reader.h"

#include "common/byte_reader.h"

std::uint32_t ReadVariableWidthIntegerBE(std::span<const std::uint8_t> data) {
  const ByteReader bytes(data);
  std::uint32_t value = 0;
  std::uint32_t shift = 0;
  for (std::size_t size = bytes.Size(); size > 0 && shift <= 27; --size) {
    const std::uint8_t byte = *bytes.U8(size - 1);
    value |= std::uint32_t{byte & 0x7Fu} << shift;
    shift += 7;
    if (byte & 0x80)
      break;
  }
  return value;
}

std::uint32_t SizeOfTrailingEntries(std::span<const std::uint8_t> record,
                                    std::uint32_t extraDataFlags) {
  const ByteReader bytes(record);
  const std::size_t size = bytes.Size();
  std::uint64_t total = 0;
  for (std::uint32_t flags = (extraDataFlags & 0xFFFF) >> 1; flags != 0; flags >>= 1) {
    if ((flags & 1) && total < size)
      total += ReadVariableWidthIntegerBE(record.first(size - total));
  }
  if ((extraDataFlags & 1) && total < size)
    total += (*bytes.U8(size - total - 1) & 3u) + 1;
  return total > UINT32_MAX ? UINT32_MAX : static_cast<std::uint32_t>(total);
}
