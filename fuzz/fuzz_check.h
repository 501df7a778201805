// What the fuzzers share: a check that stops the run as a crash, so libFuzzer
// keeps the input, and a scratch folder emptied after every input.
#pragma once

#include <unistd.h>

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

// The process's scratch folder: made on first use, removed at exit. It lies in
// shared memory where the system has it, so an input's files never reach a
// disk and a run does thousands of inputs a second rather than hundreds.
inline testbook::ScratchFolder &Scratch() {
  static testbook::ScratchFolder folder = [] {
    std::error_code error;
    const std::filesystem::path memory = "/dev/shm";
    return std::filesystem::is_directory(memory, error) && access(memory.c_str(), W_OK) == 0
               ? testbook::ScratchFolder(memory)
               : testbook::ScratchFolder();
  }();
  return folder;
}

// Removes everything an input left in the scratch folder.
inline void EmptyScratch() {
  std::error_code ignored;
  for (const auto &entry : std::filesystem::directory_iterator(Scratch().Path(), ignored))
    std::filesystem::remove_all(entry.path(), ignored);
}

} // namespace fuzz
