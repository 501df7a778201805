#include "html_tags.h"

#include <algorithm>
#include <cctype>

namespace finishing {

namespace {

bool IsNameChar(char c) {
  return std::isalnum(static_cast<unsigned char>(c)) || c == ':' || c == '-' || c == '_';
}

// Elements whose content a parser takes as text, never as tags, and which
// is not laid out as the book's text: style sheets, scripts, the title.
bool HoldsRawText(std::string_view name) {
  return name == "style" || name == "script" || name == "title" || name == "textarea";
}

// Where the raw text that starts at `from` ends: at its element's end tag, as
// a parser reads it, so that what looks like a tag inside is text.
std::size_t RawTextEnd(std::string_view html, std::size_t from, std::string_view name) {
  for (std::size_t at = from; (at = html.find("</", at)) != std::string_view::npos; at += 2) {
    const std::size_t nameEnd = at + 2 + name.size();
    if (nameEnd <= html.size() && Lower(html.substr(at + 2, name.size())) == name &&
        (nameEnd == html.size() || !IsNameChar(html[nameEnd])))
      return at;
  }
  return html.size();
}

} // namespace

std::vector<Tag> ScanTags(std::string_view html) {
  std::vector<Tag> tags;
  std::size_t at = 0;
  while ((at = html.find('<', at)) != std::string_view::npos) {
    if (html.compare(at, 4, "<!--") == 0) {
      const std::size_t close = html.find("-->", at + 4);
      at = close == std::string_view::npos ? html.size() : close + 3;
      continue;
    }
    const std::size_t close = html.find('>', at + 1);
    if (close == std::string_view::npos)
      break;
    std::size_t nameEnd = at + 1;
    if (nameEnd < close && html[nameEnd] == '/')
      ++nameEnd;
    while (nameEnd < close && IsNameChar(html[nameEnd]))
      ++nameEnd;
    Tag &tag = tags.emplace_back();
    tag = {at, close + 1, Lower(html.substr(at + 1, nameEnd - at - 1))};
    at = close + 1;
    tag.rawTextFollows = HoldsRawText(tag.name) && html[close - 1] != '/';
    if (tag.rawTextFollows)
      at = RawTextEnd(html, at, tag.name);
  }
  return tags;
}

bool IsVoidElement(std::string_view name) {
  static constexpr std::string_view kVoid[] = {"br",    "img",    "hr",    "meta",         "link",
                                               "input", "col",    "area",  "base",         "wbr",
                                               "embed", "source", "param", "mbp:pagebreak"};
  return std::find(std::begin(kVoid), std::end(kVoid), name) != std::end(kVoid);
}

bool OpensElement(const Tag &tag, std::string_view tagText) {
  return !tag.name.empty() && !tag.name.starts_with('/') && !IsVoidElement(tag.name) &&
         !tagText.ends_with("/>");
}

bool ShowsByItself(std::string_view name) {
  static constexpr std::string_view kShown[] = {"img",   "image",  "svg",  "hr",
                                                "table", "object", "video"};
  return std::find(std::begin(kShown), std::end(kShown), name) != std::end(kShown);
}

bool ShowsText(std::string_view text) {
  for (std::size_t at = 0; at < text.size(); ++at) {
    if (text.compare(at, 4, "<!--") == 0) {
      const std::size_t close = text.find("-->", at + 4);
      if (close == std::string_view::npos)
        return false;
      at = close + 2;
    } else if (!textutil::IsHtmlSpace(text[at])) {
      return true;
    }
  }
  return false;
}

void ApplyEdits(std::string &html, std::vector<Edit> edits) {
  // At one place the insertions go first: they cannot follow a replacement
  // that begins there.
  std::stable_sort(edits.begin(), edits.end(), [](const Edit &a, const Edit &b) {
    return a.begin != b.begin ? a.begin < b.begin : a.end == a.begin && b.end != b.begin;
  });
  std::size_t added = 0;
  for (const Edit &edit : edits)
    added += edit.text.size();
  std::string out;
  out.reserve(html.size() + added);
  std::size_t copied = 0;
  for (const Edit &edit : edits) {
    if (edit.begin < copied || edit.end < edit.begin || edit.end > html.size())
      continue; // overlaps a replacement already made, or lies outside the text
    out.append(html, copied, edit.begin - copied);
    out += edit.text;
    copied = edit.end;
  }
  out.append(html, copied, std::string::npos);
  html = std::move(out);
}

} // namespace finishing
