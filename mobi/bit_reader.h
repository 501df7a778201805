// Most-significant-bit-first reader, and the trailing entries of text records.
#pragma once

#include <cstdint>
#include <span>

// TODO(decoders): BitReader.

// Total size of the trailing entries at the end of `record` that
// `extraDataFlags` announces; may reach or pass the record's size when the
// record is damaged.
std::uint32_t SizeOfTrailingEntries(std::span<const std::uint8_t> record,
                                    std::uint32_t extraDataFlags);
