#include "whole_file.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <iterator>
#include <stdexcept>
#include <vector>

namespace finishing {

namespace {

std::runtime_error SystemError(const std::string &what, const std::string &path) {
  return std::runtime_error(what + " " + path + ": " + std::strerror(errno));
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in)
    return std::nullopt;
  std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  if (in.bad())
    return std::nullopt;
  return bytes;
}

void ReplaceFile(const std::string &path, const std::function<void(std::FILE *)> &write) {
  std::string pattern = path + ".XXXXXX";
  const int descriptor = mkstemp(pattern.data());
  if (descriptor < 0)
    throw SystemError("cannot create a file beside", path);
  const std::string partPath = pattern;
  // The new file keeps the old one's permissions, not mkstemp's private ones.
  struct stat old;
  if (stat(path.c_str(), &old) == 0)
    fchmod(descriptor, old.st_mode & 07777);
  std::FILE *file = fdopen(descriptor, "wb");
  if (file == nullptr) {
    close(descriptor);
    unlink(partPath.c_str());
    throw SystemError("cannot open", partPath);
  }
  try {
    write(file);
  } catch (...) {
    std::fclose(file);
    unlink(partPath.c_str());
    throw;
  }
  const bool written = std::ferror(file) == 0;
  if (std::fclose(file) != 0 || !written) {
    unlink(partPath.c_str());
    throw SystemError("cannot write", partPath);
  }
  if (std::rename(partPath.c_str(), path.c_str()) != 0) {
    const std::runtime_error error = SystemError("cannot replace", path);
    unlink(partPath.c_str());
    throw error;
  }
}

} // namespace finishing
