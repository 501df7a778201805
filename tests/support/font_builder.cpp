#include "font_builder.h"

#include <zlib.h>

#include <stdexcept>

namespace testbook {

Bytes MakeFont(const std::string &family, const std::string &signature) {
  Bytes font(signature.begin(), signature.end());
  AppendU16BE(font, 1); // one table
  AppendU16BE(font, 0);
  AppendU16BE(font, 0);
  AppendU16BE(font, 0);
  font.insert(font.end(), {'n', 'a', 'm', 'e'});
  AppendU32BE(font, 0);
  AppendU32BE(font, 28);                                         // table offset
  AppendU32BE(font, static_cast<std::uint32_t>(18 + 2 * family.size())); // table length
  AppendU16BE(font, 0);  // format
  AppendU16BE(font, 1);  // one name
  AppendU16BE(font, 18); // strings start
  for (std::uint16_t field : {3, 1, 0x409, 1})
    AppendU16BE(font, field);
  AppendU16BE(font, static_cast<std::uint16_t>(2 * family.size()));
  AppendU16BE(font, 0);
  for (char c : family)
    AppendU16BE(font, static_cast<std::uint8_t>(c));
  std::uint32_t noise = 12345;
  for (int i = 0; i < 4000; ++i) {
    noise = noise * 1103515245 + 12345;
    font.push_back(static_cast<std::uint8_t>(noise >> 16));
  }
  return font;
}

Bytes MakeFontRecord(const Bytes &font, const FontRecordSpec &spec) {
  Bytes data = font;
  if (spec.compressed) {
    uLongf length = compressBound(font.size());
    data.resize(length);
    if (compress(data.data(), &length, font.data(), font.size()) != Z_OK)
      throw std::runtime_error("zlib compress failed");
    data.resize(length);
  }
  Bytes key;
  for (std::size_t i = 0; i < spec.keyLength; ++i)
    key.push_back(static_cast<std::uint8_t>(0x5A + 7 * i));
  for (std::size_t i = 0; i < data.size() && i < spec.obfuscated; ++i)
    data[i] ^= key[i % key.size()];
  Bytes record = {'F', 'O', 'N', 'T'};
  AppendU32BE(record, spec.decodedSize.value_or(static_cast<std::uint32_t>(font.size())));
  AppendU32BE(record, (spec.compressed ? 1u : 0u) | (spec.obfuscated ? 2u : 0u));
  AppendU32BE(record, static_cast<std::uint32_t>(24 + key.size())); // data offset
  AppendU32BE(record, static_cast<std::uint32_t>(key.size()));
  AppendU32BE(record, 24); // key offset
  record.insert(record.end(), key.begin(), key.end());
  record.insert(record.end(), data.begin(), data.end());
  return record;
}

} // namespace testbook
