// Small books made with the test writer that exercise every part of the
// format the library reads: EXTH author and cover, filepos links, recindex
// pictures, skipped record kinds, PalmDOC and HUFF/CDIC text with trailing
// entries. The bad-input sweep corrupts them and the fuzzers start from them.
#pragma once

#include <string>
#include <vector>

#include "mobi_writer.h"

namespace testbook {

struct SampleBook {
  std::string name;
  Bytes bytes;
};

std::vector<SampleBook> SampleBooks();

// Markup that holds every construct the text step and the post-pass rewrite.
extern const char kSampleMarkup[];

// A one-pixel GIF.
Bytes TinyGif();

} // namespace testbook
