// Whole-file reads, and replacements of a file's content without a moment in
// which it is half written.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

namespace finishing {

// The bytes of the file at `path`, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path &path);

// Runs `write` on a new file beside `path` (a unique name, so nothing that
// already stands in the folder is overwritten), then renames it over `path`.
// When `write` throws or any step fails, the new file is removed, `path` is
// left as it was, and std::runtime_error (or what `write` threw) propagates.
void ReplaceFile(const std::string &path, const std::function<void(std::FILE *)> &write);

} // namespace finishing
