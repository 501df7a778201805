#include "mobi_html.h"

#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <boost/regex.hpp>
#include <charconv>
#include <optional>
#include <cstdio>
#include <string_view>

#include "c_file.h"
#include "markup_tags.h"
#include "tarn_mobi.h"

namespace {

const boost::regex &ImagePattern() {
  static const boost::regex pattern(R"(<[ \t]{0,1}img[ \t][^<>]*(recindex=['"]{0,1}(\d+))[^<>]*>)",
                                    boost::regex::perl | boost::regex::icase);
  return pattern;
}

const boost::regex &ElementPattern() {
  static const boost::regex pattern(R"(<[ \t]image[ \t][^<>]*>)", boost::regex::perl);
  return pattern;
}

constexpr std::string_view kImagePrefix = "<img src=\"";
constexpr std::string_view kImageSuffix = "\" />";

bool ReadWholeFile(const char *path, std::string &bytes) {
  CFile in(std::fopen(path, "rb"));
  if (!in)
    return false;
  char block[65536];
  std::size_t got;
  while ((got = std::fread(block, 1, sizeof block, in.get())) > 0)
    bytes.append(block, got);
  return std::ferror(in.get()) == 0;
}

// Entry `digits` of the names; empty when there is no such entry.
std::string_view NameOfImage(std::string_view digits, const std::vector<std::string> &imageNames) {
  std::size_t number = 0;
  const auto [end, error] = std::from_chars(digits.data(), digits.data() + digits.size(), number);
  if (error != std::errc() || end != digits.data() + digits.size() || number >= imageNames.size())
    return {};
  return imageNames[number];
}

void AppendImageElement(std::string &out, std::string_view name) {
  out.append(kImagePrefix).append(name).append(kImageSuffix);
}

// Every img tag with a recindex becomes a plain image element for that picture.
// Nothing when the file holds no such tag.
std::optional<std::string> RewriteImageTags(std::string_view html, const std::vector<std::string> &imageNames) {
  std::string out;
  const char *cursor = html.data();
  boost::cmatch match;
  ForEachClosedTag(html, [&](std::string_view tag) {
    if (!TagMentions(tag, "recindex") || !boost::regex_match(tag.data(), tag.data() + tag.size(), match, ImagePattern()))
      return;
    if (out.empty())
      out.reserve(html.size());
    out.append(cursor, tag.data());
    const std::string_view digits(match[2].first, static_cast<std::size_t>(match.length(2)));
    AppendImageElement(out, NameOfImage(digits, imageNames));
    cursor = tag.data() + tag.size();
  });
  if (cursor == html.data())
    return std::nullopt;
  out.append(cursor, html.data() + html.size());
  return out;
}

// The first "< image" element tag stands for the cover: it is replaced by the
// cover picture, which is used once; later such tags stay as they are.
bool PlaceCover(std::string &html, std::string &cover) {
  boost::match_results<std::string::const_iterator> match;
  if (cover.empty() || !boost::regex_search(html.cbegin(), html.cend(), match, ElementPattern()))
    return false;
  std::string element;
  AppendImageElement(element, cover);
  html.replace(static_cast<std::size_t>(match[0].first - html.cbegin()), static_cast<std::size_t>(match.length(0)),
               element);
  cover.clear();
  return true;
}

// Replaces the file at `path` with `text` through a sibling temporary file, so
// a failed write leaves the old file whole. 0, 1 (no file to write) or 2.
int ReplaceFile(const char *path, const std::string &text) {
  struct stat old {};
  if (stat(path, &old) != 0)
    return MOBI_ERR_OPEN;
  std::string temporary = std::string(path) + ".XXXXXX";
  const int fd = mkstemp(temporary.data());
  if (fd < 0)
    return MOBI_ERR_OPEN;
  std::FILE *out = fdopen(fd, "wb");
  if (out == nullptr) {
    close(fd);
    unlink(temporary.c_str());
    return MOBI_ERR_OPEN;
  }
  fchmod(fd, old.st_mode & 07777);
  const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  if (std::fclose(out) != 0 || !written || std::rename(temporary.c_str(), path) != 0) {
    unlink(temporary.c_str());
    return MOBI_ERR_WRITE;
  }
  return MOBI_OK;
}

} // namespace

int MobiHtmlProcess2(const char *path, std::vector<std::string> &imageNames) {
  std::string html;
  if (!ReadWholeFile(path, html))
    return MOBI_ERR_OPEN;
  std::optional<std::string> rewritten = RewriteImageTags(html, imageNames);
  if (rewritten)
    std::string().swap(html);
  std::string &text = rewritten ? *rewritten : html;
  const bool coverPlaced = !imageNames.empty() && PlaceCover(text, imageNames.front());
  // A file without image references stays as it was written.
  return rewritten || coverPlaced ? ReplaceFile(path, text) : MOBI_OK;
}
