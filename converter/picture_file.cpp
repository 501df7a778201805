#include "picture_file.h"

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>

#include <png.h>

#include "common/byte_reader.h"
#include "common/c_file.h"
#include "common/whole_file.h"

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
  const CFile file(std::fopen(path.c_str(), "rb"));
  if (!file)
    return std::nullopt;
  std::string start(bytes, '\0');
  start.resize(std::fread(start.data(), 1, bytes, file.get()));
  if (std::ferror(file.get()) != 0)
    return std::nullopt;
  return start;
}

// Reads a PNG's rows into `pixels` as ReadPngInfo describes them: palettes,
// small grey depths and tRNS expanded, 16 bits kept. libpng reports errors
// by a long jump, so nothing in this frame has a destructor.
bool ReadPngPixels(std::FILE *file, unsigned char *pixels, std::size_t rowBytes,
                   std::uint32_t height) {
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png != nullptr ? png_create_info_struct(png) : nullptr;
  png_bytep *rows = static_cast<png_bytep *>(std::malloc(std::size_t{height} * sizeof(png_bytep)));
  const auto release = [&] {
    std::free(rows);
    png_destroy_read_struct(&png, &info, nullptr);
  };
  if (png == nullptr || info == nullptr || rows == nullptr) {
    release();
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    release();
    return false;
  }
  png_init_io(png, file);
  png_read_info(png, info);
  png_set_expand(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  if (png_get_rowbytes(png, info) != rowBytes || png_get_image_height(png, info) != height)
    png_error(png, "the picture is not the one its header described");
  for (std::uint32_t y = 0; y < height; ++y)
    rows[y] = pixels + std::size_t{y} * rowBytes;
  png_read_image(png, rows);
  png_read_end(png, nullptr);
  release();
  return true;
}

std::optional<std::uint16_t> U16LE(const ByteReader &bytes, std::size_t at) {
  const auto low = bytes.U8(at);
  const auto high = bytes.U8(at + 1);
  if (!low || !high)
    return std::nullopt;
  return static_cast<std::uint16_t>(*high << 8 | *low);
}

} // namespace

std::size_t PixelBytes(const PictureInfo &info) {
  return static_cast<std::size_t>(info.components + (info.alpha ? 1 : 0)) * (info.precision / 8);
}

std::optional<PictureInfo> ReadJpegInfo(std::string_view bytes) {
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
      return PictureInfo{PictureKind::Jpeg,         *width, *height, *components, *precision,
                         adobe && *components == 4, false};
    }
    at += 2 + std::size_t{*length};
  }
}

std::uint64_t DecodedBytes(const PictureInfo &info) {
  return std::uint64_t{static_cast<std::uint32_t>(info.width)} *
         static_cast<std::uint32_t>(info.height) * PixelBytes(info);
}

std::optional<PictureInfo> ReadPngInfo(std::string_view bytes) {
  const ByteReader png = Reader(bytes);
  const auto width = png.U32BE(16);
  const auto height = png.U32BE(20);
  const auto colourType = png.U8(25);
  if (!StartsWith(bytes, "\x89PNG\r\n\x1a\n") || !width || !height || !colourType || *width == 0 ||
      *height == 0 || *width > INT32_MAX || *height > INT32_MAX)
    return std::nullopt;
  // Grey (0) and grey with alpha (4) stay grey; alpha comes with types 4 and
  // 6, or from a tRNS chunk before the image data. Palettes and small grey
  // depths expand to 8 bits, 16 bits stay.
  const auto depth = png.U8(24);
  PictureInfo info{PictureKind::Png,
                   static_cast<int>(*width),
                   static_cast<int>(*height),
                   *colourType == 0 || *colourType == 4 ? 1 : 3,
                   depth == 16 && *colourType != 3 ? 16 : 8,
                   false,
                   *colourType == 4 || *colourType == 6};
  for (std::size_t at = 8;;) {
    const auto length = png.U32BE(at);
    const auto type = png.Slice(at + 4, 4);
    if (!length || !type)
      break;
    const std::string_view name(reinterpret_cast<const char *>(type->Bytes().data()), 4);
    if (name == "IDAT")
      break;
    info.alpha = info.alpha || name == "tRNS";
    at += 12 + std::size_t{*length};
  }
  return info;
}

std::optional<std::vector<unsigned char>> DecodePng(const std::string &path,
                                                    const PictureInfo &info) {
  if (DecodedBytes(info) > kLargestDecoded)
    return std::nullopt;
  const CFile file(std::fopen(path.c_str(), "rb"));
  if (!file)
    return std::nullopt;
  const std::size_t rowBytes = static_cast<std::size_t>(info.width) * PixelBytes(info);
  std::vector<unsigned char> pixels(rowBytes * static_cast<std::size_t>(info.height));
  if (!ReadPngPixels(file.get(), pixels.data(), rowBytes, static_cast<std::uint32_t>(info.height)))
    return std::nullopt;
  return pixels;
}

std::optional<Size> PictureSize(std::string_view bytes) {
  if (const auto jpeg = ReadJpegInfo(bytes))
    return Size{jpeg->width, jpeg->height};
  if (const auto png = ReadPngInfo(bytes))
    return Size{png->width, png->height};
  const ByteReader reader = Reader(bytes);
  if (StartsWith(bytes, "GIF8")) {
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
