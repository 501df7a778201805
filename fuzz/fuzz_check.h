// What the fuzzers share: a check that stops the run as a crash, so libFuzzer
// keeps the input, and a scratch folder emptied after every input.
#pragma once

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "test_files.h"

#define FUZZ_CHECK(condition)                                                                      \
  do {                                                                                             \
    if (!(condition)) {                                                                            \
      std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);           \
      std::abort();                                                                                \
    }                                                                                              \
  } while (0)

namespace fuzz {

// Input caps of the fuzzers that take whole books: the tables, a few text
// records and resources fit well within them, and larger inputs only slow
// every run down. make_seeds leaves out the books above them.
inline constexpr std::size_t kMaxWholeBook = 64 << 10; // mobi_info
inline constexpr std::size_t kMaxKf8Book = 192 << 10;  // kf8_rendition

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

// Removes `name` (a file, or a folder with its contents) from the scratch
// folder, when it is there.
inline void RemoveFromScratch(const std::string &name) {
  std::error_code ignored;
  std::filesystem::remove_all(Scratch().Path() / name, ignored);
}

// Caps libFuzzer's inputs at `maxLen` bytes unless the command line sets
// -max_len: libFuzzer otherwise takes the largest seed as the cap, and a few
// whole books make every input slow. Called from LLVMFuzzerInitialize, whose
// arguments libFuzzer reads afterwards.
inline void DefaultMaxLen(int *argc, char ***argv, std::size_t maxLen) {
  static std::vector<char *> arguments(*argv, *argv + *argc);
  for (const char *argument : arguments)
    if (std::string_view(argument).starts_with("-max_len="))
      return;
  static std::string flag = "-max_len=" + std::to_string(maxLen);
  arguments.insert(arguments.begin() + 1, flag.data());
  arguments.push_back(nullptr);
  *argc = static_cast<int>(arguments.size()) - 1;
  *argv = arguments.data();
}

} // namespace fuzz
