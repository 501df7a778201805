// Runs a program from an argument vector (never through a shell) and hands
// its standard error to a reader as it arrives.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace wkhtmltox {

struct ProgramRun {
  bool started = false;
  // The reason it could not start (strerror text) when `started` is false.
  std::string failure;
  // Exit status, or 128 + signal number; meaningful only when started.
  int status = 0;
};

// Runs arguments[0] with `arguments` as its argument vector; its standard
// input and output are /dev/null. Blocks until it ends.
ProgramRun RunProgram(const std::vector<std::string> &arguments,
                      const std::function<void(std::string_view)> &onStandardError);

} // namespace wkhtmltox
