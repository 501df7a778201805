// File access over stdio with 64-bit offsets.
#include "tarn_tool.h"

#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

// Handed out when even the handle cannot be allocated, so FilesOpen never
// returns null; it holds no stream and is never freed.
FILES noMemoryHandle{nullptr, 0};

FILE *FirstStream(FILES *files) {
  if (files == nullptr || files->count == 0 || files->streams == nullptr)
    return nullptr;
  return files->streams[0];
}

char *CopyText(const std::string &text) {
  char *copy = static_cast<char *>(std::malloc(text.size() + 1));
  if (copy != nullptr)
    std::memcpy(copy, text.c_str(), text.size() + 1);
  return copy;
}

std::string WithoutFinalSlashes(const char *path) {
  std::string text(path);
  while (text.size() > 1 && text.back() == '/')
    text.pop_back();
  return text;
}

} // namespace

extern "C" {

FILES *FilesOpen(const char *const *paths, size_t count, const char *mode) {
  FILES *files = static_cast<FILES *>(std::calloc(1, sizeof(FILES)));
  if (files == nullptr)
    return &noMemoryHandle;
  files->streams = count > 0 ? static_cast<FILE **>(std::calloc(count, sizeof(FILE *))) : nullptr;
  if (files->streams == nullptr)
    return files;
  files->count = count;
  for (size_t i = 0; i < count; ++i)
    if (paths != nullptr && paths[i] != nullptr && mode != nullptr)
      files->streams[i] = std::fopen(paths[i], mode);
  return files;
}

size_t FilesRead(void *buffer, size_t size, size_t count, FILES *files) {
  FILE *stream = FirstStream(files);
  if (stream == nullptr || buffer == nullptr || size == 0 || count == 0)
    return 0;
  if (count > SIZE_MAX / size)
    return 0;
  return std::fread(buffer, 1, size * count, stream);
}

int FilesSeek(FILES *files, uint64_t offset, int origin) {
  FILE *stream = FirstStream(files);
  if (stream == nullptr || offset > static_cast<uint64_t>(INT64_MAX))
    return -1;
  int whence = origin == FILES_SEEK_CUR ? SEEK_CUR : origin == FILES_SEEK_END ? SEEK_END : SEEK_SET;
  return fseeko(stream, static_cast<off_t>(offset), whence) == 0 ? 0 : -1;
}

uint64_t FilesTell(FILES *files) {
  FILE *stream = FirstStream(files);
  if (stream == nullptr)
    return 0;
  off_t position = ftello(stream);
  return position < 0 ? 0 : static_cast<uint64_t>(position);
}

int FilesClose(FILES *files) {
  if (files == nullptr || files == &noMemoryHandle)
    return 0;
  int result = 0;
  for (size_t i = 0; i < files->count; ++i)
    if (files->streams[i] != nullptr && std::fclose(files->streams[i]) != 0)
      result = -1;
  std::free(files->streams);
  std::free(files);
  return result;
}

char *PathGetFolder(const char *path) {
  std::string text = path != nullptr ? path : "";
  size_t slash = text.rfind('/');
  if (slash == std::string::npos)
    return CopyText(".");
  if (slash == 0)
    return CopyText("/");
  return CopyText(text.substr(0, slash));
}

int PathExists(const char *path) {
  if (path == nullptr || *path == '\0')
    return 0;
  return access(WithoutFinalSlashes(path).c_str(), F_OK) == 0 ? 1 : 0;
}

int PathCreateFolder(const char *path) {
  if (path == nullptr || *path == '\0')
    return -1;
  std::string folder = WithoutFinalSlashes(path);
  if (mkdir(folder.c_str(), 0777) == 0 || errno == EEXIST)
    return 0;
  return -1;
}

} // extern "C"
