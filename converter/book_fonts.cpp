#include "book_fonts.h"

#include <dirent.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string_view>

#include "common/text_util.h"

namespace {

constexpr const char *kConfigVariable = "FONTCONFIG_FILE";

bool HoldsFonts(const std::string &folder) {
  DIR *listing = opendir(folder.c_str());
  if (listing == nullptr)
    return false;
  bool found = false;
  while (const dirent *entry = readdir(listing)) {
    const std::string_view name = entry->d_name;
    if (name.ends_with(".ttf") || name.ends_with(".otf")) {
      found = true;
      break;
    }
  }
  closedir(listing);
  return found;
}

// The folder's fonts, then whatever configuration was in force: the one the
// variable named, or the system's (a relative name is looked up there).
std::string ConfigText(const std::string &folder, const std::optional<std::string> &previous) {
  const std::string here = textutil::XmlEscaped(folder);
  return "<?xml version=\"1.0\"?>\n<!DOCTYPE fontconfig SYSTEM \"fonts.dtd\">\n<fontconfig>\n"
         "  <cachedir>" +
         here + "</cachedir>\n  <dir>" + here +
         "</dir>\n"
         "  <include ignore_missing=\"yes\">" +
         textutil::XmlEscaped(previous.value_or("fonts.conf")) + "</include>\n</fontconfig>\n";
}

bool WriteText(const std::string &path, const std::string &text) {
  std::FILE *out = std::fopen(path.c_str(), "wb");
  if (out == nullptr)
    return false;
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (std::fclose(out) != 0 || !written) {
    std::remove(path.c_str());
    return false;
  }
  return true;
}

std::string AbsolutePath(const std::string &path) {
  if (path.starts_with("/"))
    return path;
  char *here = getcwd(nullptr, 0);
  if (here == nullptr)
    return path;
  std::string absolute = std::string(here) + "/" + path;
  std::free(here);
  return absolute;
}

} // namespace

BookFonts::BookFonts(const std::string &resourceFolder) {
  if (!HoldsFonts(resourceFolder))
    return;
  if (const char *previous = std::getenv(kConfigVariable))
    previousConfig_ = previous;
  const std::string folder = AbsolutePath(resourceFolder);
  const std::string path = folder + "/fonts.conf";
  if (!WriteText(path, ConfigText(folder, previousConfig_)) ||
      setenv(kConfigVariable, path.c_str(), 1) != 0) {
    std::remove(path.c_str());
    return;
  }
  configPath_ = path;
}

BookFonts::~BookFonts() {
  if (!Offered())
    return;
  if (previousConfig_)
    setenv(kConfigVariable, previousConfig_->c_str(), 1);
  else
    unsetenv(kConfigVariable);
  std::remove(configPath_.c_str());
}
