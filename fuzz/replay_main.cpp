// Stands in for libFuzzer's driver on any compiler: feeds every file named on
// the command line, or found in a folder named there, to the fuzzer once.
// ctest runs it over the inputs that once failed, so they stay fixed.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size);

namespace {

std::vector<std::filesystem::path> InputsOf(const std::filesystem::path &argument) {
  std::vector<std::filesystem::path> inputs;
  std::error_code error;
  if (std::filesystem::is_directory(argument, error)) {
    for (const auto &entry : std::filesystem::directory_iterator(argument, error))
      if (entry.is_regular_file() && entry.path().filename().string().front() != '.')
        inputs.push_back(entry.path());
  } else if (std::filesystem::is_regular_file(argument, error)) {
    inputs.push_back(argument);
  } else {
    std::fprintf(stderr, "skipped %s: no such file or folder\n", argument.c_str());
  }
  std::sort(inputs.begin(), inputs.end());
  return inputs;
}

std::vector<std::uint8_t> ReadInput(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in),
                                   std::istreambuf_iterator<char>());
}

} // namespace

// A folder that holds no input replays nothing and proves nothing, so it
// fails the run, as does a run with no input at all; a path that does not
// exist (the real books may be absent) is only reported.
int main(int argc, char **argv) {
  std::size_t replayed = 0;
  bool emptyFolder = false;
  for (int i = 1; i < argc; ++i) {
    const std::vector<std::filesystem::path> inputs = InputsOf(argv[i]);
    std::error_code error;
    if (inputs.empty() && std::filesystem::is_directory(argv[i], error)) {
      std::fprintf(stderr, "no inputs in %s\n", argv[i]);
      emptyFolder = true;
    }
    for (const auto &input : inputs) {
      std::fprintf(stderr, "replaying %s\n", input.c_str());
      const std::vector<std::uint8_t> bytes = ReadInput(input);
      LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
      ++replayed;
    }
  }
  std::printf("replayed %zu inputs\n", replayed);
  return emptyFolder || replayed == 0 ? 1 : 0;
}
