#include "bit_reader.h"

std::uint32_t SizeOfTrailingEntries(std::span<const std::uint8_t>, std::uint32_t) { return 0; }
