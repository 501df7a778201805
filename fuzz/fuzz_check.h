// What the fuzzers share: a check that stops the run as a crash, so libFuzzer
// keeps the input, and a scratch folder emptied after every input.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "test_files.h"

#define FUZZ_CHECK(condition)                                                                      \
  do {                                                                                             \
    if (!(condition)) {                                                                            \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);           \
      std::abort();                                                                                \
    }                                                                                              \
  } while (0)

namespace fuzz {

// The process's scratch folder: made on first use, removed at exit.
inline testbook::ScratchFolder &Scratch() {
  static testbook::ScratchFolder folder;
  return folder;
}

// Removes everything an input left in the scratch folder.
inline void EmptyScratch() {
  std::error_code ignored;
  for (const auto &entry : std::filesystem::directory_iterator(Scratch().Path(), ignored))
    std::filesystem::remove_all(entry.path(), ignored);
}

} // namespace fuzz
