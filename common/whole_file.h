// Whole-file reads, and replacements of a file's content without a moment in
// which it is half written. Shared by the library and the program.
#pragma once

#include <cstdio>
#include <filesystem>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace textutil {

// The bytes of the file at `path`, or nothing when it cannot be read.
std::optional<std::string> ReadWholeFile(const std::filesystem::path &path);

// Writes `bytes` as the file at `path`; a file that cannot be written whole
// is removed. False when it could not be written.
bool WriteWholeFile(const std::string &path, std::string_view bytes);

// Why a replacement failed: no new file could be made beside the old one, or
// the new one could not be written or put in its place.
class ReplaceError : public std::runtime_error {
public:
  ReplaceError(const std::string &what, bool created)
      : std::runtime_error(what), created_(created) {}
  bool Created() const { return created_; }

private:
  bool created_;
};

// Runs `write` on a new file beside `path` (a unique name, so nothing that
// already stands in the folder is overwritten), then renames it over `path`.
// When `write` throws or any step fails, the new file is removed, `path` is
// left as it was, and ReplaceError (or what `write` threw) propagates.
void ReplaceFile(const std::string &path, const std::function<void(std::FILE *)> &write);

} // namespace textutil
