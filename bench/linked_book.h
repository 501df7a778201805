// The generated book of the benchmarks: about 5 MB of text with 20,000
// filepos links, stored uncompressed.
#pragma once

#include <string>

// Writes the book to `path`.
void WriteLinkedBook(const std::string &path);
