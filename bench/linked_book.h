// The generated book of the benchmarks: paragraphs of 262 bytes, each opening
// with a filepos link to another one, stored uncompressed. 20,000 paragraphs
// make about 5 MB of text, 12,000 about 3 MB.
#pragma once

#include <cstddef>
#include <string>

// Writes the book to `path`.
void WriteLinkedBook(const std::string &path, std::size_t paragraphs = 20000);
