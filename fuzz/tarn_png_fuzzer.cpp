// Picture re-encoding on any file: the input is the picture, decoded as JPEG,
// GIF or PNG by its content and written as PNG. Every run ends with one of
// the documented results; the sanitizers catch the rest.
#include <cstddef>
#include <cstdint>

#include "fuzz_check.h"
#include "mobi_writer.h"
#include "tarn_png.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const std::string source = fuzz::Scratch().File("picture.gif");
  testbook::WriteFile(source, testbook::Bytes(data, data + size));
  const std::string target = fuzz::Scratch().File("picture.png");
  const int result = jpg2png(source.c_str(), target.c_str());
  FUZZ_CHECK(result >= TARN_PNG_OK && result <= TARN_PNG_ERR_MEMORY);
  FUZZ_CHECK(result == TARN_PNG_OK || !std::filesystem::exists(target));
  fuzz::EmptyScratch();
  return 0;
}
