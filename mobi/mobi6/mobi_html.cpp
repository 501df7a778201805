#include "mobi6/mobi_html.h"

#include <sys/stat.h>

#include <boost/regex.hpp>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string_view>

#include "markup/markup_tags.h"
#include "tarn_mobi.h"
#include "common/text_util.h"
#include "common/whole_file.h"

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

// Entry `digits` of the names; empty when there is no such entry.
std::string_view NameOfImage(std::string_view digits, const std::vector<std::string> &imageNames) {
  const std::optional<std::uint64_t> number = textutil::DecimalValue(digits);
  if (!number || *number >= imageNames.size())
    return {};
  return imageNames[*number];
}

void AppendImageElement(std::string &out, std::string_view name) {
  out.append(kImagePrefix).append(name).append(kImageSuffix);
}

// Every img tag with a recindex becomes a plain image element for that picture.
// Nothing when the text has no such tag.
std::optional<std::string> RewriteImageTags(std::string_view html,
                                            const std::vector<std::string> &imageNames) {
  std::optional<std::string> out;
  const char *cursor = html.data();
  boost::cmatch match;
  ForEachClosedTag(html, [&](std::string_view tag) {
    if (!TagMentions(tag, "recindex") ||
        !boost::regex_match(tag.data(), tag.data() + tag.size(), match, ImagePattern()))
      return;
    if (!out)
      out.emplace().reserve(html.size());
    out->append(cursor, tag.data());
    const std::string_view digits(match[2].first, static_cast<std::size_t>(match.length(2)));
    AppendImageElement(*out, NameOfImage(digits, imageNames));
    cursor = tag.data() + tag.size();
  });
  if (out)
    out->append(cursor, html.data() + html.size());
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
  html.replace(static_cast<std::size_t>(match[0].first - html.cbegin()),
               static_cast<std::size_t>(match.length(0)), element);
  cover.clear();
  return true;
}

// Replaces the file at `path` with `text`, so a failed write leaves the old
// file whole. 0, 1 (no file to replace, or none could be made beside it) or 2.
int ReplaceFile(const char *path, const std::string &text) {
  struct stat old {};
  if (stat(path, &old) != 0)
    return MOBI_ERR_OPEN;
  try {
    textutil::ReplaceFile(path,
                          [&](std::FILE *out) { std::fwrite(text.data(), 1, text.size(), out); });
  } catch (const textutil::ReplaceError &error) {
    return error.Created() ? MOBI_ERR_WRITE : MOBI_ERR_OPEN;
  }
  return MOBI_OK;
}

} // namespace

int MobiHtmlProcess2(const char *path, std::vector<std::string> &imageNames) {
  std::optional<std::string> html = textutil::ReadWholeFile(path);
  if (!html)
    return MOBI_ERR_OPEN;
  std::optional<std::string> rewritten = RewriteImageTags(*html, imageNames);
  const bool tagsRewritten = rewritten.has_value();
  if (tagsRewritten)
    html = std::move(rewritten);
  const bool coverPlaced = !imageNames.empty() && PlaceCover(*html, imageNames.front());
  // A file the pass leaves as it is need not be written again.
  return tagsRewritten || coverPlaced ? ReplaceFile(path, *html) : MOBI_OK;
}
