#include "test_files.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdint>
#include <stdexcept>

namespace testbook {

ScratchFolder::ScratchFolder() : ScratchFolder(std::filesystem::temp_directory_path()) {}

ScratchFolder::ScratchFolder(const std::filesystem::path &parent) {
  std::string pattern = (parent / "bookconv-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a scratch folder");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

bool IsWellFormedUtf8(std::string_view text) {
  std::size_t i = 0;
  while (i < text.size()) {
    const unsigned char lead = static_cast<unsigned char>(text[i]);
    std::size_t length = 1;
    std::uint32_t value = lead;
    if (lead >= 0x80) {
      if (lead >= 0xC2 && lead <= 0xDF)
        length = 2;
      else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3;
      else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4;
      else
        return false;
      if (text.size() - i < length)
        return false;
      value = lead & (0x7F >> length);
      for (std::size_t k = 1; k < length; ++k) {
        const unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
          return false;
        value = value << 6 | (next & 0x3F);
      }
      const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
      if (value < smallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
        return false;
    }
    i += length;
  }
  return true;
}

std::filesystem::path CorpusFolder() {
  const std::filesystem::path folder = BOOKCONV_CORPUS_DIR;
  std::error_code error;
  return std::filesystem::is_directory(folder, error) ? folder : std::filesystem::path();
}

std::vector<std::filesystem::path> CorpusBooks() {
  std::vector<std::filesystem::path> books;
  const std::filesystem::path folder = CorpusFolder();
  if (folder.empty())
    return books;
  std::error_code error;
  for (const auto &shelf : {folder, folder.parent_path() / "rtl"})
    for (const auto &entry : std::filesystem::directory_iterator(shelf, error))
      if (entry.is_regular_file())
        books.push_back(entry.path());
  std::sort(books.begin(), books.end());
  return books;
}

} // namespace testbook
