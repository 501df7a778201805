#include "huff_decompressor.h"

std::uint32_t HuffDecompressor::Decompress(std::span<const std::uint8_t>, char *, std::uint32_t) {
  return 0;
}
