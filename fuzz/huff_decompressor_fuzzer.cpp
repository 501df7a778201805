// The HUFF/CDIC decoder with its tables. Input layout (big-endian):
//   u16 extra data flags, u8 number of CDIC records (1 to 8), u16 output size,
//   then records, each a u16 length and its bytes: the HUFF record, the CDIC
//   records, and the text records, decoded in turn.
// Each output space is allocated to its exact size, so a write past it is
// caught.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "common/byte_reader.h"
#include "fuzz_check.h"
#include "decoding/huff_decompressor.h"

namespace {

// Splits what follows the fixed fields into length-prefixed records; a length
// past the end takes what is left.
std::vector<std::span<const std::uint8_t>> Records(const ByteReader &input, std::size_t at) {
  std::vector<std::span<const std::uint8_t>> records;
  while (const auto length = input.U16BE(at)) {
    const ByteReader rest = input.From(at + 2);
    const std::size_t taken = std::min<std::size_t>(*length, rest.Size());
    records.push_back(rest.Bytes().first(taken));
    at += 2 + taken;
  }
  return records;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const ByteReader input(std::span(data, size));
  const auto flags = input.U16BE(0);
  const auto cdicCount = input.U8(2);
  const auto outSize = input.U16BE(3);
  if (!flags || !cdicCount || !outSize)
    return 0;
  const auto records = Records(input, 5);
  if (records.empty())
    return 0;
  const std::size_t dictionaryEnd = std::min<std::size_t>(records.size(), 2 + *cdicCount % 8);
  std::vector<std::vector<std::uint8_t>> dictionary;
  for (std::size_t i = 1; i < dictionaryEnd; ++i)
    dictionary.emplace_back(records[i].begin(), records[i].end());

  HuffDecompressor huff(records[0], std::move(dictionary), *flags);
  for (std::size_t i = dictionaryEnd; i < records.size(); ++i) {
    auto out = std::make_unique<char[]>(*outSize);
    FUZZ_CHECK(huff.Decompress(records[i], out.get(), *outSize) <= *outSize);
  }
  return 0;
}
