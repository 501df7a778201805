// What a fixed-layout page needs to know of a picture file before drawing
// it: its pixel size, and for a JPEG how to describe its own bytes in a PDF.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace pictures {

struct JpegInfo {
  int width = 0;
  int height = 0;
  int components = 0;     // 1 grey, 3 colour, 4 CMYK
  int precision = 8;      // bits per component
  bool adobeCmyk = false; // CMYK written inverted, as Adobe's encoders do
};

// The frame header of the JPEG `bytes`; nothing when they are no JPEG, or
// one a PDF cannot carry as it is (arithmetic coding, odd component counts).
std::optional<JpegInfo> ReadJpegInfo(std::string_view bytes);

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
