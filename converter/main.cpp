// bookconv BOOK.mobi OUTPUT.pdf WORKFOLDER/: turns a MOBI e-book into a PDF.
#include <cstdio>
#include <string>

#include "convert_book.h"

int main(int argc, char **argv) {
  if (argc < 4) {
    std::fputs("usage: bookconv BOOK.mobi OUTPUT.pdf WORKFOLDER/\n", stderr);
    return kUsage;
  }
  const std::string input = argv[1], output = argv[2], workFolder = argv[3];
  return ConvertBook(input.c_str(), output.c_str(), workFolder.c_str());
}
