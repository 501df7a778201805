#include "doc_decompressor.h"

std::uint32_t DocDecompressor::Decompress(std::span<const std::uint8_t>, char *,
                                          std::uint32_t) const {
  return 0;
}
