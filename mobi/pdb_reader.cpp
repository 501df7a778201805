#include "pdb_reader.h"

#include <algorithm>
#include <array>

#include "byte_reader.h"

namespace {

// Reads N bytes; after a short read they are all zero, so every decode gives 0.
template <std::size_t N> bool ReadExactly(FILES *file, std::array<std::uint8_t, N> &bytes) {
  const bool whole = FilesRead(bytes.data(), N, 1, file) == N;
  if (!whole)
    bytes.fill(0);
  return whole;
}

bool ReadField(FILES *file, std::string &field, std::size_t size) {
  field.assign(size, '\0');
  return FilesRead(field.data(), size, 1, file) == size;
}

} // namespace

namespace PdbUtil {

bool ReadUnsignedShort(FILES *file, std::uint16_t &value) {
  std::array<std::uint8_t, 2> bytes;
  const bool whole = ReadExactly(file, bytes);
  value = *ByteReader(bytes).U16BE(0);
  return whole;
}

bool ReadUnsignedLongBE(FILES *file, std::uint32_t &value) {
  std::array<std::uint8_t, 4> bytes;
  const bool whole = ReadExactly(file, bytes);
  value = *ByteReader(bytes).U32BE(0);
  return whole;
}

bool ReadUnsignedLongLE(FILES *file, std::uint32_t &value) {
  std::array<std::uint8_t, 4> bytes;
  const bool whole = ReadExactly(file, bytes);
  value = *ByteReader(bytes).U32LE(0);
  return whole;
}

} // namespace PdbUtil

bool PdbHeader::read(FILES *file) {
  const std::uint64_t start = FilesTell(file);
  recordOffsets.clear();
  bool whole = ReadField(file, databaseName, 32);
  whole = PdbUtil::ReadUnsignedShort(file, attributes) && whole;
  whole = FilesSeek(file, 26, FILES_SEEK_CUR) == 0 && whole;
  whole = ReadField(file, typeCreator, 8) && whole;
  whole = FilesSeek(file, 8, FILES_SEEK_CUR) == 0 && whole;
  std::uint16_t count = 0;
  if (!PdbUtil::ReadUnsignedShort(file, count) || !whole)
    return false;

  // Read the list in one piece; its size is at most 512 KiB.
  std::vector<std::uint8_t> list(std::size_t{count} * kRecordEntrySize);
  std::size_t got = list.empty() ? 0 : FilesRead(list.data(), list.size(), 1, file);
  std::size_t entries = got / kRecordEntrySize;
  // The offset of an entry is usable once its first four bytes arrived.
  if (got % kRecordEntrySize >= 4)
    ++entries;
  const ByteReader reader(std::span<const std::uint8_t>(list.data(), got));
  recordOffsets.reserve(entries);
  for (std::size_t i = 0; i < entries; ++i)
    recordOffsets.push_back(reader.U32BE(i * kRecordEntrySize).value_or(0));
  sortedOffsets_ = recordOffsets;
  std::sort(sortedOffsets_.begin(), sortedOffsets_.end());
  return got == list.size() && FilesTell(file) == start + kHeaderSize + list.size();
}

std::uint32_t PdbHeader::ExtentInFile(std::uint32_t index) const {
  const std::uint32_t own = recordOffsets.at(index);
  const auto next = std::upper_bound(sortedOffsets_.begin(), sortedOffsets_.end(), own);
  return next == sortedOffsets_.end() ? UINT32_MAX : *next - own;
}
