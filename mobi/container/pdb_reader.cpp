#include "container/pdb_reader.h"

#include "common/byte_reader.h"

namespace {

constexpr std::size_t kNameSize = 32;
constexpr std::size_t kAttributes = 32;
constexpr std::size_t kTypeCreator = 60;
constexpr std::size_t kTypeCreatorSize = 8;
constexpr std::size_t kRecordCount = 76;

// The field's bytes as far as the file holds them, NUL-padded to `size`.
std::string Field(const ByteReader &file, std::size_t offset, std::size_t size) {
  std::string field(size, '\0');
  const auto bytes = file.From(offset).Bytes();
  for (std::size_t i = 0; i < size && i < bytes.size(); ++i)
    field[i] = static_cast<char>(bytes[i]);
  return field;
}

} // namespace

bool PdbHeader::read(std::span<const std::uint8_t> bytes) {
  const ByteReader file(bytes);
  recordOffsets.clear();
  databaseName = Field(file, 0, kNameSize);
  attributes = file.U16BE(kAttributes).value_or(0);
  typeCreator = Field(file, kTypeCreator, kTypeCreatorSize);
  const auto count = file.U16BE(kRecordCount);
  if (!count)
    return false;
  recordOffsets.reserve(*count);
  for (std::size_t i = 0; i < *count; ++i) {
    // The offset of an entry is usable once its first four bytes are there.
    const auto offset = file.U32BE(kHeaderSize + i * kRecordEntrySize);
    if (!offset)
      break;
    recordOffsets.push_back(*offset);
  }
  return file.Holds(kHeaderSize, std::size_t{*count} * kRecordEntrySize);
}
