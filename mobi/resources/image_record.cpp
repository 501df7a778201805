#include "resources/image_record.h"

#include <cstring>

#include "common/byte_reader.h"
#include "tarn_mobi.h"
#include "tarn_tool.h"
#include "common/whole_file.h"

namespace {

// The smallest BMP: its file header and the shortest information header.
constexpr std::uint32_t kSmallestBmp = 26;

bool StartsWith(std::span<const std::uint8_t> bytes, std::string_view prefix) {
  return bytes.size() >= prefix.size() &&
         std::memcmp(bytes.data(), prefix.data(), prefix.size()) == 0;
}

// "BM" followed by a file size that the record can hold, so text that merely
// starts with those letters is no picture.
bool IsBmp(std::span<const std::uint8_t> record) {
  const auto size = ByteReader(record).U32LE(2);
  return StartsWith(record, "BM") && size && *size >= kSmallestBmp && *size <= record.size();
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

int WritePictureFile(const std::string &folder, std::uint64_t number,
                     std::span<const std::uint8_t> record, std::string &fileName) {
  fileName.clear();
  const std::string_view extension = PictureExtension(record);
  if (extension.empty())
    return MOBI_OK;
  std::string name = "image_" + std::to_string(number) + "." + std::string(extension);
  if (int result = WriteResourceFile(folder, name, record))
    return result;
  fileName = std::move(name);
  return MOBI_OK;
}

int WriteResourceFile(const std::string &folder, const std::string &fileName,
                      std::span<const std::uint8_t> bytes) {
  if (!PathExists(folder.c_str()) && PathCreateFolder(folder.c_str()) != 0)
    return MOBI_ERR_RESOURCE;
  const std::string_view text(reinterpret_cast<const char *>(bytes.data()), bytes.size());
  return textutil::WriteWholeFile(folder + fileName, text) ? MOBI_OK : MOBI_ERR_RESOURCE;
}
