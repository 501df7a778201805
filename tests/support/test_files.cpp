#include "test_files.h"

#include <stdlib.h>

#include <algorithm>
#include <stdexcept>

namespace testbook {

ScratchFolder::ScratchFolder() {
  std::string pattern = (std::filesystem::temp_directory_path() / "bookconv-test-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr)
    throw std::runtime_error("cannot make a scratch folder");
  path_ = pattern;
}

ScratchFolder::~ScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
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
  for (const auto &entry : std::filesystem::directory_iterator(folder))
    if (entry.is_regular_file())
      books.push_back(entry.path());
  std::sort(books.begin(), books.end());
  return books;
}

} // namespace testbook
