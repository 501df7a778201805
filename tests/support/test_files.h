// Scratch folders and the real-book corpus for tests.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace testbook {

// A fresh folder under `parent` (the system's temporary folder unless given),
// removed with its contents when the object goes.
class ScratchFolder {
public:
  ScratchFolder();
  explicit ScratchFolder(const std::filesystem::path &parent);
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder &) = delete;
  ScratchFolder &operator=(const ScratchFolder &) = delete;

  const std::filesystem::path &Path() const { return path_; }
  // `name` inside the folder, as a string.
  std::string File(const std::string &name) const { return (path_ / name).string(); }

private:
  std::filesystem::path path_;
};

// True when `text` is well-formed UTF-8 (RFC 3629: no overlong forms, no
// surrogates, nothing past U+10FFFF).
bool IsWellFormedUtf8(std::string_view text);

// The folder of real books, or empty when this checkout has none beside it.
std::filesystem::path CorpusFolder();
// Every book of the corpus, the right-to-left ones beside it included, sorted
// by path; empty when there is no corpus.
std::vector<std::filesystem::path> CorpusBooks();

} // namespace testbook

// Skips the current test, with a message, when the corpus is absent.
#define SKIP_WITHOUT_CORPUS()                                                                      \
  do {                                                                                             \
    if (testbook::CorpusFolder().empty())                                                          \
      GTEST_SKIP() << "no book corpus at ../shared/corpus/books beside the project";               \
  } while (0)
