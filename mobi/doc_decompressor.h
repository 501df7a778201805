// PalmDOC (LZ77) decompression of one text record.
#pragma once

#include <cstdint>
#include <span>

class DocDecompressor {
public:
  // Decodes the compressed bytes `in` (trailing entries already removed) into
  // out[0, outSize); returns the number of bytes written.
  std::uint32_t Decompress(std::span<const std::uint8_t> in, char *out,
                           std::uint32_t outSize) const;
};
