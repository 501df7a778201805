// The post-pass on any HTML file; it ends 0, 1 (not read) or 2 (not
// written). The first input byte says how many image names the book has
// (some of them empty, entry 0 being the cover), the rest is the file the
// text step would have written.
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "mobi6/mobi_html.h"
#include "mobi_writer.h"

namespace {

std::vector<std::string> ImageNames(std::uint8_t count) {
  std::vector<std::string> names;
  for (std::uint8_t i = 0; i <= count % 16; ++i)
    names.push_back(i % 3 == 2 ? "" : "book_files/image_" + std::to_string(i) + ".gif");
  return names;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  if (size < 1)
    return 0;
  const std::string html = fuzz::Scratch().File("book.htm");
  testbook::WriteFile(html, testbook::Bytes(data + 1, data + size));
  std::vector<std::string> names = ImageNames(data[0]);
  const std::size_t count = names.size();
  const int result = MobiHtmlProcess2(html.c_str(), names);
  FUZZ_CHECK(result == 0 || result == 1 || result == 2);
  FUZZ_CHECK(names.size() == count);
  fuzz::EmptyScratch();
  return 0;
}
