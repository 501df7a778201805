#include "doc_decompressor.h"

#include <array>
#include <cstring>

namespace {

enum TokenCode : std::uint8_t { kLiteral = 0, kLiteralRun = 1, kSpacePair = 2, kBackReference = 3 };

// The kind of token each first byte starts.
constexpr std::array<std::uint8_t, 256> MakeTokenCodes() {
  std::array<std::uint8_t, 256> codes{};
  for (unsigned byte = 0; byte < 256; ++byte) {
    if (byte >= 0x01 && byte <= 0x08)
      codes[byte] = kLiteralRun;
    else if (byte >= 0x80 && byte <= 0xBF)
      codes[byte] = kBackReference;
    else if (byte >= 0xC0)
      codes[byte] = kSpacePair;
    else
      codes[byte] = kLiteral;
  }
  return codes;
}

constexpr std::array<std::uint8_t, 256> TOKEN_CODE = MakeTokenCodes();

// Copies `length` bytes from `distance` bytes back. An overlapping source
// repeats the bytes just written, so that case goes byte by byte.
inline void CopyMatch(char *to, std::uint32_t distance, std::uint32_t length) {
  const char *from = to - distance;
  if (distance >= length) {
    std::memcpy(to, from, length);
    return;
  }
  for (std::uint32_t i = 0; i < length; ++i)
    to[i] = from[i];
}

} // namespace

std::uint32_t DocDecompressor::Decompress(std::span<const std::uint8_t> in, char *out,
                                          std::uint32_t outSize) const {
  if (out == nullptr)
    return 0;
  const std::uint8_t *p = in.data();
  const std::uint8_t *const inEnd = p + in.size();
  char *r = out;
  char *const outEnd = out + outSize;

  while (p < inEnd && r < outEnd) {
    const std::uint8_t byte = *p++;
    switch (TOKEN_CODE[byte]) {
    case kLiteral:
      *r++ = static_cast<char>(byte);
      break;
    case kLiteralRun:
      if (byte > inEnd - p || byte > outEnd - r)
        return static_cast<std::uint32_t>(r - out);
      std::memcpy(r, p, byte);
      p += byte;
      r += byte;
      break;
    case kSpacePair:
      if (outEnd - r < 2)
        return static_cast<std::uint32_t>(r - out);
      r[0] = ' ';
      r[1] = static_cast<char>(byte ^ 0x80);
      r += 2;
      break;
    default: { // kBackReference
      if (p == inEnd)
        return static_cast<std::uint32_t>(r - out);
      const std::uint32_t word = std::uint32_t{byte} << 8 | *p++;
      const std::uint32_t length = (word & 7) + 3;
      if (length > static_cast<std::uint32_t>(outEnd - r))
        return static_cast<std::uint32_t>(r - out);
      const std::uint32_t distance = (word & 0x3FFF) >> 3;
      if (distance > static_cast<std::uint32_t>(r - out))
        break; // reaches before this record's text: dropped
      CopyMatch(r, distance, length);
      r += length;
      break;
    }
    }
  }
  return static_cast<std::uint32_t>(r - out);
}
