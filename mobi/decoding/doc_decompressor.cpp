#include "decoding/doc_decompressor.h"

#include <array>
#include <bit>
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

// How many of the 8 bytes of `chunk`, first byte in the low lane, are single
// literals (0x00 or 0x09 to 0x7F) before the first byte that starts another
// token. Each lane is tested at once: the top bit, and whether the low seven
// bits lie from 1 to 8 (adding 0x7F sets the top bit from 1 on, adding 0x77
// from 9 on; neither carries into the next lane).
inline unsigned LeadingLiterals(std::uint64_t chunk) {
  constexpr std::uint64_t kLanes = 0x0101010101010101;
  constexpr std::uint64_t kTops = 0x80 * kLanes;
  const std::uint64_t low = chunk & ~kTops;
  const std::uint64_t fromOne = low + 0x7F * kLanes;
  const std::uint64_t fromNine = low + 0x77 * kLanes;
  const std::uint64_t others = (chunk | (fromOne & ~fromNine)) & kTops;
  return others == 0 ? 8 : static_cast<unsigned>(std::countr_zero(others)) / 8;
}

inline std::uint64_t LoadLittleEndian(const std::uint8_t *from) {
  std::uint64_t value;
  std::memcpy(&value, from, 8);
  if constexpr (std::endian::native == std::endian::big)
    value = __builtin_bswap64(value);
  return value;
}

// Copies `length` (3 to 10) bytes from `distance` bytes back. With room to
// spare, 16 bytes go as two 8-byte moves, the second one after the first so
// that a source 8 or 9 bytes back repeats what the first just wrote; bytes past
// `length` are overwritten by the tokens that follow. A distance of 0 meets
// only bytes no token has written yet: the space as given, which the text step
// fills with zeros, so zeros are what it writes.
inline void CopyMatch(char *to, std::uint32_t distance, std::uint32_t length, bool spare) {
  const char *from = to - distance;
  if (distance >= 8 && spare) {
    std::uint64_t chunk;
    std::memcpy(&chunk, from, 8);
    std::memcpy(to, &chunk, 8);
    std::memcpy(&chunk, from + 8, 8);
    std::memcpy(to + 8, &chunk, 8);
  } else if (distance == 0) {
    std::memset(to, 0, length);
  } else {
    for (std::uint32_t i = 0; i < length; ++i)
      to[i] = from[i];
  }
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
      // Text runs of literals: up to 8 at once, copied as a block with the
      // bytes after them rewritten by the tokens that follow.
      if (inEnd - p >= 7 && outEnd - r >= 8) {
        const unsigned literals = LeadingLiterals(LoadLittleEndian(p - 1));
        std::memcpy(r, p - 1, 8);
        p += literals - 1;
        r += literals;
      } else {
        *r++ = static_cast<char>(byte);
      }
      break;
    case kLiteralRun:
      if (byte > inEnd - p || byte > outEnd - r)
        return static_cast<std::uint32_t>(r - out);
      if (inEnd - p >= 8 && outEnd - r >= 8)
        std::memcpy(r, p, 8); // the bytes past the run are written again next
      else
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
      CopyMatch(r, distance, length, outEnd - r >= 16);
      r += length;
      break;
    }
    }
  }
  return static_cast<std::uint32_t>(r - out);
}
