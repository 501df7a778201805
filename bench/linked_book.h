// The generated books of the benchmarks: paragraphs of 262 bytes, each
// opening with a link to another place, stored uncompressed. 20,000
// paragraphs make about 5 MB of text, 12,000 about 3 MB.
#pragma once

#include <cstddef>
#include <string>

// Writes the book to `path`.
void WriteLinkedBook(const std::string &path, std::size_t paragraphs = 20000);

// The KF8 form: chapters (parts) of four fragments of 25 such paragraphs,
// each paragraph linking by kindle:pos to an earlier chapter's heading, each
// chapter listed in the contents, showing one picture and linking one style
// sheet. 100 chapters make about 2.6 MB of text.
void WriteLinkedKf8Book(const std::string &path, std::size_t chapters = 100);
