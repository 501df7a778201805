#include "picture_file.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>

#include "byte_reader.h"
#include "whole_file.h"

namespace pictures {

namespace {

ByteReader Reader(std::string_view bytes) {
  return ByteReader(std::span(reinterpret_cast<const std::uint8_t *>(bytes.data()), bytes.size()));
}

bool StartsWith(std::string_view bytes, std::string_view signature) {
  return bytes.substr(0, signature.size()) == signature;
}

// Frame markers SOF0 to SOF15, less DHT (C4), JPG (C8) and DAC (CC).
bool IsFrameMarker(std::uint8_t marker) {
  return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// Arithmetic-coded frames, which few PDF readers decode.
bool IsArithmeticFrame(std::uint8_t marker) { return marker >= 0xC9 && marker != 0xCC; }

bool IsAdobeMarker(const ByteReader &jpeg, std::size_t at, std::uint16_t length) {
  const auto identifier = jpeg.Slice(at + 4, 5);
  return length >= 7 && identifier && std::memcmp(identifier->Bytes().data(), "Adobe", 5) == 0;
}

std::optional<std::string> ReadFileStart(const std::string &path, std::size_t bytes) {
  std::FILE *file = std::fopen(path.c_str(), "rb");
  if (file == nullptr)
    return std::nullopt;
  std::string start(bytes, '\0');
  start.resize(std::fread(start.data(), 1, bytes, file));
  const bool failed = std::ferror(file) != 0;
  std::fclose(file);
  if (failed)
    return std::nullopt;
  return start;
}

std::optional<std::uint16_t> U16LE(const ByteReader &bytes, std::size_t at) {
  const auto low = bytes.U8(at);
  const auto high = bytes.U8(at + 1);
  if (!low || !high)
    return std::nullopt;
  return static_cast<std::uint16_t>(*high << 8 | *low);
}

} // namespace

std::optional<JpegInfo> ReadJpegInfo(std::string_view bytes) {
  const ByteReader jpeg = Reader(bytes);
  if (jpeg.U16BE(0) != 0xFFD8)
    return std::nullopt;
  bool adobe = false;
  std::size_t at = 2;
  for (;;) {
    if (jpeg.U8(at) != 0xFF)
      return std::nullopt;
    const auto marker = jpeg.U8(at + 1);
    if (!marker)
      return std::nullopt;
    if (*marker == 0xFF) { // fill byte
      ++at;
      continue;
    }
    if (*marker == 0xD9 || *marker == 0xDA) // end of image, start of scan: no frame
      return std::nullopt;
    if (*marker == 0x01 || (*marker >= 0xD0 && *marker <= 0xD7)) {
      at += 2;
      continue;
    }
    const auto length = jpeg.U16BE(at + 2);
    if (!length || *length < 2)
      return std::nullopt;
    if (*marker == 0xEE && IsAdobeMarker(jpeg, at, *length))
      adobe = true;
    if (IsFrameMarker(*marker)) {
      const auto precision = jpeg.U8(at + 4);
      const auto height = jpeg.U16BE(at + 5);
      const auto width = jpeg.U16BE(at + 7);
      const auto components = jpeg.U8(at + 9);
      if (!precision || !height || !width || !components || *height == 0 || *width == 0 ||
          IsArithmeticFrame(*marker) || (*components != 1 && *components != 3 && *components != 4))
        return std::nullopt;
      return JpegInfo{*width, *height, *components, *precision, adobe && *components == 4};
    }
    at += 2 + std::size_t{*length};
  }
}

std::optional<Size> PictureSize(std::string_view bytes) {
  if (const auto jpeg = ReadJpegInfo(bytes))
    return Size{jpeg->width, jpeg->height};
  const ByteReader reader = Reader(bytes);
  if (StartsWith(bytes, "\x89PNG\r\n\x1a\n")) {
    const auto width = reader.U32BE(16);
    const auto height = reader.U32BE(20);
    if (width && height && *width > 0 && *height > 0 && *width <= INT32_MAX && *height <= INT32_MAX)
      return Size{static_cast<int>(*width), static_cast<int>(*height)};
  } else if (StartsWith(bytes, "GIF8")) {
    const auto width = U16LE(reader, 6);
    const auto height = U16LE(reader, 8);
    if (width && height && *width > 0 && *height > 0)
      return Size{*width, *height};
  }
  return std::nullopt;
}

std::optional<std::string> ReadPictureHeaders(const std::string &path) {
  constexpr std::size_t kHeaders = 64 * 1024;
  auto start = ReadFileStart(path, kHeaders);
  if (start && start->size() == kHeaders && !PictureSize(*start))
    return textutil::ReadWholeFile(path);
  return start;
}

} // namespace pictures
