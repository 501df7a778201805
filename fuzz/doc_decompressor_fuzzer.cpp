// The PalmDOC decoder on any record. The first two input bytes choose the
// output space size (big-endian), the rest is the compressed text. The space
// is allocated to its exact size, so a write past it is caught.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "decoding/doc_decompressor.h"
#include "fuzz_check.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 2)
    return 0;
  const std::uint32_t outSize = std::uint32_t{data[0]} << 8 | data[1];
  auto out = std::make_unique<char[]>(outSize);
  const std::uint32_t written =
      DocDecompressor().Decompress(std::span(data + 2, size - 2), out.get(), outSize);
  FUZZ_CHECK(written <= outSize);
  return 0;
}
