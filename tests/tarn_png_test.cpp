// jpg2png on real JPEG, GIF and PNG files, and on files it must refuse.
#include "tarn_png.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mobi_writer.h"
#include "test_files.h"

namespace {

using testbook::ScratchFolder;

const std::filesystem::path kImages = BOOKCONV_TEST_DATA_DIR "/images";

std::string Image(const char *name) { return (kImages / name).string(); }

// A PNG file read back as RGBA.
struct Decoded {
  bool ok = false;
  std::uint32_t width = 0, height = 0;
  bool hadAlpha = false;
  std::vector<std::uint8_t> rgba;

  const std::uint8_t *At(std::uint32_t x, std::uint32_t y) const {
    return &rgba[(static_cast<std::size_t>(y) * width + x) * 4];
  }
};

Decoded ReadPng(const std::string &path) {
  Decoded decoded;
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str()))
    return decoded;
  decoded.hadAlpha = (image.format & PNG_FORMAT_FLAG_ALPHA) != 0;
  image.format = PNG_FORMAT_RGBA;
  decoded.width = image.width;
  decoded.height = image.height;
  decoded.rgba.resize(PNG_IMAGE_SIZE(image));
  decoded.ok = png_image_finish_read(&image, nullptr, decoded.rgba.data(), 0, nullptr) != 0;
  return decoded;
}

bool IsPngFile(const std::string &path) {
  const testbook::Bytes bytes = testbook::ReadFile(path);
  static const std::uint8_t signature[] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  return bytes.size() > 8 && std::memcmp(bytes.data(), signature, 8) == 0;
}

void ExpectColour(const std::uint8_t *pixel, int red, int green, int blue, int alpha,
                  int tolerance = 0) {
  EXPECT_NEAR(pixel[0], red, tolerance);
  EXPECT_NEAR(pixel[1], green, tolerance);
  EXPECT_NEAR(pixel[2], blue, tolerance);
  EXPECT_EQ(pixel[3], alpha);
}

Decoded Convert(const ScratchFolder &scratch, const char *name) {
  const std::string out = scratch.File(std::string(name) + ".png");
  EXPECT_EQ(jpg2png(Image(name).c_str(), out.c_str()), TARN_PNG_OK) << name;
  EXPECT_TRUE(IsPngFile(out)) << name;
  return ReadPng(out);
}

TEST(Jpg2Png, JpegKeepsSizeAndColours) {
  ScratchFolder scratch;
  const Decoded photo = Convert(scratch, "photo.jpg");
  ASSERT_TRUE(photo.ok);
  EXPECT_EQ(photo.width, 64u);
  EXPECT_EQ(photo.height, 48u);
  EXPECT_FALSE(photo.hadAlpha);
  ExpectColour(photo.At(32, 0), 255, 0, 0, 255, 24);  // the gradient starts red
  ExpectColour(photo.At(32, 47), 0, 0, 255, 255, 24); // and ends blue

  const Decoded gray = Convert(scratch, "gray.jpg");
  ASSERT_TRUE(gray.ok);
  EXPECT_EQ(gray.At(3, 3)[0], gray.At(3, 3)[1]);
  EXPECT_EQ(gray.At(3, 3)[1], gray.At(3, 3)[2]);

  const Decoded cmyk = Convert(scratch, "cmyk.jpg");
  ASSERT_TRUE(cmyk.ok);
  ExpectColour(cmyk.At(4, 4), 255, 0, 0, 255, 24);
}

TEST(Jpg2Png, GifKeepsTransparencyOfItsFirstFrame) {
  ScratchFolder scratch;
  const Decoded transparent = Convert(scratch, "transparent.gif");
  ASSERT_TRUE(transparent.ok);
  EXPECT_EQ(transparent.width, 8u);
  EXPECT_TRUE(transparent.hadAlpha);
  EXPECT_EQ(transparent.At(1, 1)[3], 0); // the 4x4 hole in the corner
  ExpectColour(transparent.At(6, 6), 255, 0, 0, 255);

  const Decoded animated = Convert(scratch, "animated.gif");
  ASSERT_TRUE(animated.ok);
  ExpectColour(animated.At(0, 0), 255, 0, 0, 255); // the first frame is red, the second blue
  ExpectColour(animated.At(7, 7), 255, 0, 0, 255);
}

TEST(Jpg2Png, InterlacedGifRowsComeOutInOrder) {
  ScratchFolder scratch;
  const Decoded gradient = Convert(scratch, "interlaced.gif");
  ASSERT_TRUE(gradient.ok);
  ASSERT_EQ(gradient.height, 16u);
  for (std::uint32_t y = 1; y < gradient.height; ++y)
    EXPECT_LE(gradient.At(0, y)[0], gradient.At(0, y - 1)[0]) << "row " << y;
  EXPECT_GT(gradient.At(0, 0)[0], 200);
  EXPECT_GT(gradient.At(0, 15)[2], 200);
}

TEST(Jpg2Png, PngKeepsItsAlpha) {
  ScratchFolder scratch;
  const Decoded alpha = Convert(scratch, "alpha.png");
  ASSERT_TRUE(alpha.ok);
  EXPECT_EQ(alpha.width, 64u);
  EXPECT_EQ(alpha.height, 48u);
  EXPECT_TRUE(alpha.hadAlpha);
  EXPECT_NEAR(alpha.At(2, 2)[3], 128, 1);
  ExpectColour(alpha.At(10, 0), 0, 255, 0, alpha.At(10, 0)[3], 8);
}

TEST(Jpg2Png, DecodesByContentNotName) {
  ScratchFolder scratch;
  // A GIF named .jpg, as a book's image may be.
  std::filesystem::copy_file(Image("transparent.gif"), scratch.File("misnamed.jpg"));
  ASSERT_EQ(jpg2png(scratch.File("misnamed.jpg").c_str(), scratch.File("out.png").c_str()),
            TARN_PNG_OK);
  EXPECT_TRUE(ReadPng(scratch.File("out.png")).hadAlpha);
}

TEST(Jpg2Png, DestinationMayBeTheSourceItself) {
  ScratchFolder scratch;
  const std::string path = scratch.File("in-place.jpg");
  std::filesystem::copy_file(Image("photo.jpg"), path);
  ASSERT_EQ(jpg2png(path.c_str(), path.c_str()), TARN_PNG_OK);
  EXPECT_TRUE(IsPngFile(path));
}

// Each refusal leaves no file at the destination.
void ExpectRefused(const std::string &source, int expected) {
  ScratchFolder scratch;
  const std::string out = scratch.File("out.png");
  EXPECT_EQ(jpg2png(source.c_str(), out.c_str()), expected) << source;
  EXPECT_FALSE(std::filesystem::exists(out)) << source;
}

TEST(Jpg2Png, TruncatedFilesAreRefused) {
  ScratchFolder scratch;
  for (const char *name : {"photo.jpg", "interlaced.gif", "alpha.png"}) {
    testbook::Bytes bytes = testbook::ReadFile(Image(name));
    bytes.resize(bytes.size() * 2 / 3);
    const std::string cut = scratch.File(std::string("cut-") + name);
    testbook::WriteFile(cut, bytes);
    ExpectRefused(cut, TARN_PNG_ERR_DECODE);
  }
}

TEST(Jpg2Png, OtherFilesAreRefused) {
  ScratchFolder scratch;
  testbook::WriteFile(scratch.File("notes.txt"), testbook::ToBytes("not a picture at all"));
  ExpectRefused(scratch.File("notes.txt"), TARN_PNG_ERR_FORMAT);
  testbook::WriteFile(scratch.File("empty.jpg"), {});
  ExpectRefused(scratch.File("empty.jpg"), TARN_PNG_ERR_FORMAT);
  ExpectRefused(scratch.File("missing.jpg"), TARN_PNG_ERR_READ);
  // A JPEG signature with nothing usable after it.
  testbook::WriteFile(scratch.File("header-only.jpg"), {0xFF, 0xD8, 0xFF, 0xE0, 0, 0});
  ExpectRefused(scratch.File("header-only.jpg"), TARN_PNG_ERR_DECODE);
}

TEST(Jpg2Png, UnwritableDestinationLeavesNothing) {
  ScratchFolder scratch;
  const std::string out = scratch.File("no-such-folder/out.png");
  EXPECT_EQ(jpg2png(Image("photo.jpg").c_str(), out.c_str()), TARN_PNG_ERR_WRITE);
  EXPECT_FALSE(std::filesystem::exists(out));
  EXPECT_EQ(jpg2png(nullptr, out.c_str()), TARN_PNG_ERR_READ);
}

} // namespace
