// HUFF/CDIC decompression of text records.
#pragma once

#include <cstdint>
#include <span>

class HuffDecompressor {
public:
  // Decodes one whole text record (its trailing entries are measured and
  // removed here) into out[0, outSize); returns the number of bytes written.
  std::uint32_t Decompress(std::span<const std::uint8_t> record, char *out, std::uint32_t outSize);
  bool Error() const { return error != 0; }

private:
  std::int32_t error = 0;
};
