// Small books made with the test writer that exercise every part of the
// format the library reads: EXTH author and cover, filepos links, recindex
// pictures, skipped record kinds, PalmDOC and HUFF/CDIC text with trailing
// entries, a KF8 rendition alone and behind a MOBI6 one. The bad-input sweep
// corrupts them and the fuzzers start from them.
#pragma once

#include <string>
#include <vector>

#include "kf8_writer.h"
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

// A small KF8 rendition, PalmDOC-compressed with trailing entries. Part 0:
// <h1 class="part">, a link to part 1's <h2 class="section">, the picture
// kindle:embed:0001 (a small JPEG). Part 1: <h1 class="part">, then
// <p class="decoy">, <h2 class="section">, <p class="opening">, in two
// fragments. Both link the style sheet of flow 1 (h1.part's colour
// #336699). Contents: Part One, Part Two and under it Section 2.1. EXTH 116
// twice: the decoy, then the opening paragraph.
Kf8Book SampleKf8Book();

} // namespace testbook
