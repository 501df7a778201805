#include "fixed_layout.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>

#include "html_preparer.h"
#include "html_tags.h"

namespace fixedlayout {

namespace {

using finishing::Attribute;
using finishing::Lower;
using finishing::Tag;

// A page when the book states no size at all: a Kindle's screen.
constexpr PixelSize kFallbackSize{1072, 1448};

// The renderer draws one CSS pixel as three quarters of what CSS asks (see
// the default style sheet), so a page's markup is zoomed to fill its page.
constexpr std::string_view kRendererZoom = "1.3333";

std::optional<double> PositiveNumber(std::string_view text) {
  const std::string copy(text);
  char *end = nullptr;
  const double value = std::strtod(copy.c_str(), &end);
  if (end == copy.c_str() || !(value > 0) || value > 100000)
    return std::nullopt;
  return value;
}

std::string_view Trimmed(std::string_view text) {
  const std::size_t first = text.find_first_not_of(" \t\r\n");
  if (first == std::string_view::npos)
    return {};
  return text.substr(first, text.find_last_not_of(" \t\r\n") + 1 - first);
}

// The value of `key` in a list such as "width=400, height=600".
std::optional<double> ViewportValue(std::string_view text, std::string_view key) {
  std::size_t at = 0;
  while (at <= text.size()) {
    std::size_t end = text.find_first_of(",;", at);
    if (end == std::string_view::npos)
      end = text.size();
    const std::string_view item = text.substr(at, end - at);
    const std::size_t equals = item.find('=');
    if (equals != std::string_view::npos && Lower(Trimmed(item.substr(0, equals))) == key)
      return PositiveNumber(Trimmed(item.substr(equals + 1)));
    at = end + 1;
  }
  return std::nullopt;
}

bool IsBlank(std::string_view text) {
  return text.find_first_not_of(" \t\r\n") == std::string_view::npos;
}

bool HasClass(std::string_view tagText, std::string_view name) {
  const std::string classes = " " + std::string(Attribute(tagText, "class").value_or("")) + " ";
  return classes.find(" " + std::string(name) + " ") != std::string::npos;
}

bool StyleSays(std::string_view tagText, std::string_view property) {
  std::string style = Lower(Attribute(tagText, "style").value_or(""));
  style.erase(std::remove(style.begin(), style.end(), ' '), style.end());
  return style.find(std::string(property) + ":always") != std::string::npos;
}

bool IsVoid(std::string_view name) {
  static constexpr std::string_view kVoid[] = {"img",  "br",    "hr",     "meta",
                                               "link", "input", "wbr",    "col",
                                               "area", "base",  "source", "mbp:pagebreak"};
  return std::find(std::begin(kVoid), std::end(kVoid), name) != std::end(kVoid);
}

bool IsSelfClosing(std::string_view tagText) { return tagText.ends_with("/>"); }

// One page's stretch of the body, before it is looked at.
struct PageRange {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string viewport;
};

// Cuts the body [tags after `body`) at its parts and page breaks.
std::vector<PageRange> PageRanges(std::string_view html, const std::vector<Tag> &tags,
                                  std::size_t body) {
  std::vector<PageRange> ranges;
  PageRange current{tags[body].end, tags[body].end, {}};
  auto cut = [&](std::size_t at) {
    current.end = at;
    if (current.end > current.begin)
      ranges.push_back(current);
    current = {at, at, {}};
  };
  int depth = 0;
  std::size_t skipUntilDepth = 0;
  bool skipping = false;
  bool cutAfterClose = false;
  std::size_t bodyEnd = html.size();
  for (std::size_t i = body + 1; i < tags.size(); ++i) {
    const Tag &tag = tags[i];
    const std::string_view text = html.substr(tag.begin, tag.end - tag.begin);
    if (tag.name == "/body" || tag.name == "/html") {
      bodyEnd = tag.begin;
      break;
    }
    if (tag.name.starts_with('/') && IsVoid(std::string_view(tag.name).substr(1)))
      continue; // "</br>", "</mbp:pagebreak>": nothing was opened
    if (tag.name.starts_with('/')) {
      depth = std::max(depth - 1, 0);
      if (skipping && depth == static_cast<int>(skipUntilDepth)) {
        skipping = false;
        current.begin = tag.end; // the hidden contents list belongs to no page
      } else if (depth == 0 && cutAfterClose) {
        cut(tag.end);
        cutAfterClose = false;
      }
      continue;
    }
    if (tag.name.empty() || skipping) {
      if (!tag.name.empty() && !IsVoid(tag.name) && !IsSelfClosing(text))
        ++depth;
      continue;
    }
    if (depth == 0) {
      if (tag.name == "mbp:pagebreak") {
        cut(tag.begin);
        current.begin = tag.end;
      } else if (tag.name == "nav" && Attribute(text, "id") == finishing::kContentsNavId) {
        cut(tag.begin);
        skipping = true;
        skipUntilDepth = 0;
      } else {
        const bool part = HasClass(text, "bookconv-part");
        if (part || StyleSays(text, "page-break-before"))
          cut(tag.begin);
        if (part)
          current.viewport = std::string(Attribute(text, "data-viewport").value_or(""));
        cutAfterClose = StyleSays(text, "page-break-after");
      }
    }
    if (!IsVoid(tag.name) && !IsSelfClosing(text))
      ++depth;
  }
  cut(std::max(bodyEnd, current.begin));
  return ranges;
}

struct PageContent {
  std::vector<std::string> pictures;
  bool showsMore = false; // text, or something drawn other than a picture
  std::vector<std::string> markKeys;
};

std::optional<std::string> PictureAddress(const Tag &tag, std::string_view text) {
  if (tag.name == "img")
    return std::string(Attribute(text, "src").value_or(""));
  if (tag.name == "image")
    return std::string(
        Attribute(text, "xlink:href").value_or(Attribute(text, "href").value_or("")));
  return std::nullopt;
}

bool DrawsSomething(const std::string &name) {
  static constexpr std::string_view kDrawn[] = {"hr",     "table",   "object", "video",  "canvas",
                                                "iframe", "rect",    "circle", "path",   "text",
                                                "line",   "polygon", "input",  "ellipse"};
  return std::find(std::begin(kDrawn), std::end(kDrawn), name) != std::end(kDrawn);
}

PageContent ReadContent(std::string_view html, const std::vector<Tag> &tags,
                        const PageRange &range) {
  PageContent content;
  std::size_t textFrom = range.begin;
  bool rawText = false;
  for (const Tag &tag : tags) {
    if (tag.begin < range.begin)
      continue;
    if (tag.begin >= range.end)
      break;
    if (!rawText && !IsBlank(html.substr(textFrom, tag.begin - textFrom)))
      content.showsMore = true;
    textFrom = tag.end;
    rawText = tag.name == "style" || tag.name == "script";
    const std::string_view text = html.substr(tag.begin, tag.end - tag.begin);
    if (const auto picture = PictureAddress(tag, text))
      content.pictures.push_back(*picture);
    else if (DrawsSomething(tag.name))
      content.showsMore = true;
    if (tag.name == "a")
      if (const auto href = Attribute(text, "href");
          href && href->starts_with(finishing::kMarkScheme))
        content.markKeys.emplace_back(href->substr(finishing::kMarkScheme.size()));
  }
  if (!rawText && !IsBlank(html.substr(textFrom, range.end - textFrom)))
    content.showsMore = true;
  return content;
}

// A spread in a portrait book: the book's height, the picture's shape.
PixelSize SpreadSize(const PixelSize &page, const std::optional<PixelSize> &picture) {
  if (!picture || !picture->Landscape() || page.Landscape())
    return page;
  return {page.height * picture->width / picture->height, page.height};
}

} // namespace

LayoutFacts ReadLayoutFacts(std::string_view fixedLayout, std::string_view originalResolution,
                            std::string_view progression, std::string_view writingMode) {
  LayoutFacts facts;
  facts.fixed = Lower(Trimmed(fixedLayout)) == "true";
  facts.originalResolution = ParseResolution(originalResolution);
  const std::string mode = Lower(Trimmed(writingMode));
  facts.rightToLeft =
      Lower(Trimmed(progression)) == "rtl" || mode == "horizontal-rl" || mode == "vertical-rl";
  return facts;
}

std::optional<PixelSize> ParseResolution(std::string_view text) {
  const std::size_t x = Lower(text).find('x');
  if (x == std::string_view::npos)
    return std::nullopt;
  const auto width = PositiveNumber(Trimmed(text.substr(0, x)));
  const auto height = PositiveNumber(Trimmed(text.substr(x + 1)));
  if (!width || !height)
    return std::nullopt;
  return PixelSize{*width, *height};
}

std::optional<PixelSize> ParseViewport(std::string_view text) {
  const auto width = ViewportValue(text, "width");
  const auto height = ViewportValue(text, "height");
  if (!width || !height)
    return std::nullopt;
  return PixelSize{*width, *height};
}

FixedBook CutIntoPages(std::string_view html, const LayoutFacts &facts, const PictureSizes &sizes) {
  FixedBook book;
  const std::vector<Tag> tags = finishing::ScanTags(html);
  const auto head =
      std::find_if(tags.begin(), tags.end(), [](const Tag &tag) { return tag.name == "head"; });
  const auto headEnd =
      std::find_if(tags.begin(), tags.end(), [](const Tag &tag) { return tag.name == "/head"; });
  if (head != tags.end() && headEnd != tags.end() && headEnd->begin > head->end)
    book.head = std::string(html.substr(head->end, headEnd->begin - head->end));
  const auto body =
      std::find_if(tags.begin(), tags.end(), [](const Tag &tag) { return tag.name == "body"; });
  if (body == tags.end())
    return book;
  std::vector<std::string> pendingKeys; // markers on a page that shows nothing
  for (const PageRange &range :
       PageRanges(html, tags, static_cast<std::size_t>(body - tags.begin()))) {
    PageContent content = ReadContent(html, tags, range);
    pendingKeys.insert(pendingKeys.end(), content.markKeys.begin(), content.markKeys.end());
    if (content.pictures.empty() && !content.showsMore)
      continue;
    BookPage page;
    page.markup = std::string(html.substr(range.begin, range.end - range.begin));
    page.markKeys = std::move(pendingKeys);
    pendingKeys.clear();
    const bool pictureOnly =
        content.pictures.size() == 1 && !content.showsMore && !content.pictures[0].empty();
    const std::optional<PixelSize> picture =
        content.pictures.empty() ? std::nullopt : sizes(content.pictures[0]);
    if (const auto viewport = ParseViewport(range.viewport)) {
      page.size = *viewport;
    } else {
      const PixelSize stated = facts.originalResolution.value_or(picture.value_or(kFallbackSize));
      page.size = pictureOnly ? SpreadSize(stated, picture) : stated;
    }
    if (pictureOnly && picture)
      page.picture = content.pictures[0];
    book.pages.push_back(std::move(page));
  }
  if (!pendingKeys.empty() && !book.pages.empty())
    book.pages.back().markKeys.insert(book.pages.back().markKeys.end(), pendingKeys.begin(),
                                      pendingKeys.end());
  return book;
}

std::string PageDocument(const FixedBook &book, const BookPage &page, std::string_view headStart) {
  char size[96];
  std::snprintf(size, sizeof size, "%.2fpx %.2fpx", page.size.width, page.size.height);
  // The page holds exactly its own content: nothing may push it onto a
  // second page, and the book's page breaks have nothing to break here.
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<html><head>" + std::string(headStart) +
         book.head + "<style type=\"text/css\">@page { size: " + size +
         "; margin: 0; }\nhtml { zoom: " + std::string(kRendererZoom) +
         "; }\nhtml, body { margin: 0; padding: 0; }\n"
         "body > * { page-break-before: auto !important; page-break-after: auto !important; "
         "}</style>"
         "</head><body>" +
         page.markup + "</body></html>\n";
}

double PixelsToPoints(double pixels) { return pixels * 0.75; }

} // namespace fixedlayout
