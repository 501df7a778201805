// Test-only PalmDOC (LZ77) encoder.
#pragma once

#include <string_view>

#include "mobi_writer.h"

namespace testbook {

// One record's compressed bytes: back-references (distance 1 to 2047, length
// 3 to 10) where the text repeats, space pairs for a space before a byte from
// 0x40 to 0x7F, single literals for bytes 0x00 and 0x09 to 0x7F, and literal
// runs of 1 to 8 bytes for the bytes that cannot stand alone.
Bytes PalmDocEncode(std::string_view text);

} // namespace testbook
