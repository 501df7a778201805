#include "common/whole_file.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "common/c_file.h"

namespace textutil {

namespace {

ReplaceError SystemError(const std::string &what, const std::string &path, bool created) {
  return ReplaceError(what + " " + path + ": " + std::strerror(errno), created);
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::filesystem::path &path) {
  CFile in(std::fopen(path.c_str(), "rb"));
  if (!in)
    return std::nullopt;
  std::string bytes;
  // Room for the whole file at once: grown block by block, the string would
  // hold up to twice its size.
  struct stat status;
  if (fstat(fileno(in.get()), &status) == 0 && S_ISREG(status.st_mode))
    bytes.reserve(static_cast<std::size_t>(status.st_size));
  char block[65536];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, in.get())) > 0)
    bytes.append(block, got);
  if (std::ferror(in.get()) != 0)
    return std::nullopt;
  return bytes;
}

bool WriteWholeFile(const std::string &path, std::string_view bytes) {
  std::FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr)
    return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
  if (std::fclose(out) != 0 || !written) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}

void ReplaceFile(const std::string &path, const std::function<void(std::FILE *)> &write) {
  std::string pattern = path + ".XXXXXX";
  const int descriptor = mkstemp(pattern.data());
  if (descriptor < 0)
    throw SystemError("cannot create a file beside", path, false);
  const std::string partPath = pattern;
  // The new file keeps the old one's permissions, not mkstemp's private ones.
  struct stat old;
  if (stat(path.c_str(), &old) == 0)
    fchmod(descriptor, old.st_mode & 07777);
  std::FILE *file = fdopen(descriptor, "wb");
  if (file == nullptr) {
    close(descriptor);
    unlink(partPath.c_str());
    throw SystemError("cannot open", partPath, false);
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
    throw SystemError("cannot write", partPath, true);
  }
  if (std::rename(partPath.c_str(), path.c_str()) != 0) {
    const ReplaceError error = SystemError("cannot replace", path, true);
    unlink(partPath.c_str());
    throw error;
  }
}

} // namespace textutil
