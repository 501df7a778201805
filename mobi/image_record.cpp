#include "image_record.h"

#include <cstdio>
#include <cstring>

#include "byte_reader.h"
#include "tarn_tool.h"

namespace {

// The smallest BMP: its file header and the shortest information header.
constexpr std::uint32_t kSmallestBmp = 26;

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() && std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

// "BM" followed by a file size that the record can hold, so text that merely
// starts with those letters is no picture.
bool IsBmp(std::span<const std::uint8_t> record) {
  const auto size = ByteReader(record).U32LE(2);
  return StartsWith(record, "BM") && size && *size >= kSmallestBmp && *size <= record.size();
}

// Writes `bytes` to `path`; a file that cannot be written whole is removed.
bool WriteWholeFile(const std::string &path, std::span<const std::uint8_t> bytes) {
  std::FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr)
    return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (std::fclose(out) != 0 || !written) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}

} // namespace

std::string_view PictureExtension(std::span<const std::uint8_t> record) {
  if (StartsWith(record, "\xFF\xD8\xFF") || StartsWith(record, "GIF8"))
    return "gif";
  if (StartsWith(record, "\x89PNG\r\n\x1A\n"))
    return "png";
  if (IsBmp(record))
    return "bmp";
  return {};
}

std::optional<std::string> WritePictureFile(const std::string &folder, std::uint64_t number,
                                            std::span<const std::uint8_t> record) {
  const std::string_view extension = PictureExtension(record);
  if (extension.empty())
    return std::nullopt;
  std::string fileName = "image_" + std::to_string(number) + "." + std::string(extension);
  if (!WriteResourceFile(folder, fileName, record))
    return std::nullopt;
  return fileName;
}

bool WriteResourceFile(const std::string &folder, const std::string &fileName,
                       std::span<const std::uint8_t> bytes) {
  if (!PathExists(folder.c_str()))
    PathCreateFolder(folder.c_str());
  return WriteWholeFile(folder + fileName, bytes);
}
