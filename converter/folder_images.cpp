#include "folder_images.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <vector>

#include "tarn_png.h"

namespace {

struct FolderEntry {
  std::string name;
  bool isFolder;
};

// A symbolic link counts as a file, even one that points at a folder.
bool IsFolder(const std::string &folder, const dirent &entry) {
  if (entry.d_type != DT_UNKNOWN)
    return entry.d_type == DT_DIR;
  struct stat status;
  const std::string path = folder + "/" + entry.d_name;
  return lstat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

// The whole listing, sorted, taken before any entry is changed so that none is
// met twice; empty when the folder cannot be read.
std::vector<FolderEntry> ListFolder(const std::string &folder) {
  std::vector<FolderEntry> entries;
  DIR *listing = opendir(folder.c_str());
  if (listing == nullptr)
    return entries;
  while (const dirent *entry = readdir(listing)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..")
      entries.push_back({name, IsFolder(folder, *entry)});
  }
  closedir(listing);
  std::sort(entries.begin(), entries.end(),
            [](const FolderEntry &a, const FolderEntry &b) { return a.name < b.name; });
  return entries;
}

template <typename FileAction, typename FolderAction>
void Walk(const std::string &folder, int depth, FileAction onFile, FolderAction onFolder) {
  for (const FolderEntry &entry : ListFolder(folder)) {
    for (int level = 0; level < depth; ++level)
      std::fputs("     ", stdout);
    const std::string path = folder + "/" + entry.name;
    if (entry.isFolder) {
      std::printf("----------%s\n", entry.name.c_str());
      std::printf("%s(dir)\n", entry.name.c_str());
      onFolder(path);
    } else {
      onFile(entry.name, path);
    }
  }
  std::fflush(stdout);
}

bool IsConvertible(const std::string &name) {
  const std::size_t dot = name.rfind('.');
  if (dot == std::string::npos)
    return false;
  const std::string extension = name.substr(dot);
  return extension == ".jpg" || extension == ".gif";
}

void ConvertImage(const std::string &name, const std::string &path) {
  if (!IsConvertible(name))
    return;
  const std::string png = path.substr(0, path.rfind('.')) + ".png";
  if (access(png.c_str(), F_OK) == 0)
    return; // another file already has that name
  if (jpg2png(path.c_str(), png.c_str()) != TARN_PNG_OK)
    return;
  if (std::rename(png.c_str(), path.c_str()) != 0)
    std::remove(png.c_str());
}

} // namespace

void ConvertFolderImages(const std::string &folder, int depth) {
  Walk(folder, depth, ConvertImage, [](const std::string &) {});
}

void ConvertFolderImages(const std::string &folder, int depth,
                         const std::function<bool(const std::string &name)> &converts) {
  Walk(
      folder, depth,
      [&](const std::string &name, const std::string &path) {
        if (converts(name))
          ConvertImage(name, path);
      },
      [](const std::string &) {});
}

void ClearFolder(const std::string &folder, int depth) {
  Walk(
      folder, depth, [](const std::string &, const std::string &path) { unlink(path.c_str()); },
      [](const std::string &path) { rmdir(path.c_str()); });
}
