// PalmDOC (LZ77) decompression of one text record.
#pragma once

#include <cstdint>
#include <span>

// Literal bytes, literal runs of 1 to 8 bytes, space-plus-character pairs and
// back-references of 3 to 10 bytes up to 2047 bytes back into the same
// record's text. Nothing is carried from one record to the next.
class DocDecompressor {
public:
  // Decodes the compressed bytes `in` (trailing entries already removed) into
  // out[0, outSize); returns the number of bytes written. Decoding stops at
  // the first token that is cut off by the end of `in` or does not fit whole
  // into the output space, and as soon as the space is full. A back-reference
  // reaching before the start of the output writes nothing.
  std::uint32_t Decompress(std::span<const std::uint8_t> in, char *out,
                           std::uint32_t outSize) const;
};
