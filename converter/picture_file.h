// What a fixed-layout page needs to know of a picture file before drawing
// it: its pixel size, how to describe a JPEG's own bytes in a PDF, and a
// PNG's pixels.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace pictures {

enum class PictureKind { Jpeg, Png };

struct PictureInfo {
  PictureKind kind = PictureKind::Jpeg;
  int width = 0;
  int height = 0;
  // A JPEG's own: 1 grey, 3 colour, 4 CMYK. A PNG's as drawn: 1 or 3.
  int components = 0;
  int precision = 8;      // bits per component
  bool adobeCmyk = false; // JPEG: CMYK written inverted, as Adobe's encoders do
  bool alpha = false;     // PNG: it has transparency
};

// The frame header of the JPEG `bytes`; nothing when they are no JPEG, or
// one a PDF cannot carry as it is (arithmetic coding, odd component counts).
std::optional<PictureInfo> ReadJpegInfo(std::string_view bytes);

// The header of the PNG `bytes`, and whether it has transparency.
std::optional<PictureInfo> ReadPngInfo(std::string_view bytes);

// Bytes a pixel of a decoded PNG takes: its channels, alpha included.
std::size_t PixelBytes(const PictureInfo &info);

// Bytes the whole decoded PNG takes, and the most a page decodes: a larger
// picture (a header claiming a vast image, say) goes to the renderer.
std::uint64_t DecodedBytes(const PictureInfo &info);
inline constexpr std::uint64_t kLargestDecoded = std::uint64_t{256} << 20;

// A PNG file's pixels, row by row: `info.components` channels of
// `info.precision` bits (16-bit samples big-endian, as a PDF takes them),
// then an alpha channel when `info.alpha`. Nothing when it cannot be decoded.
std::optional<std::vector<unsigned char>> DecodePng(const std::string &path,
                                                    const PictureInfo &info);

struct Size {
  int width = 0;
  int height = 0;
};

// The pixel size of a JPEG, PNG or GIF picture.
std::optional<Size> PictureSize(std::string_view bytes);

// The first bytes of the picture file at `path`: enough for its headers, as
// a JPEG's frame header follows its metadata, which is seldom long; the
// whole file when it is not.
std::optional<std::string> ReadPictureHeaders(const std::string &path);

} // namespace pictures
