#include "fixed_layout.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <span>

#include "html_preparer.h"
#include "html_tags.h"

namespace fixedlayout {

namespace {

using finishing::Attribute;
using finishing::IsBlank;
using finishing::Lower;
using finishing::Tag;
using textutil::Trimmed;

// A page when the book states no size at all: a Kindle's screen.
constexpr PixelSize kFallbackSize{1072, 1448};

// Either engine draws one CSS pixel at 1/1.3 of what CSS asks (wkhtmltopdf
// without its patched toolkit does, and Chromium is set to match it), so a
// page's markup is zoomed by as much to fill its page exactly.
constexpr std::string_view kRendererZoom = "1.3";

// Sizes past this are no page a book means (and would overflow the page
// arithmetic long before a PDF could hold them).
constexpr double kLargestStated = 100000;

// A number at the start of `text` ("400", "400px", "1072.5"), read the same
// way whatever the locale.
std::optional<double> PositiveNumber(std::string_view text) {
  double value = 0;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (error != std::errc() || end == text.data() || !(value > 0) || value > kLargestStated)
    return std::nullopt;
  return value;
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

bool HasClass(std::string_view tagText, std::string_view name) {
  const std::string classes = " " + std::string(Attribute(tagText, "class").value_or("")) + " ";
  return classes.find(" " + std::string(name) + " ") != std::string::npos;
}

bool StyleSays(std::string_view tagText, std::string_view property) {
  std::string style = Lower(Attribute(tagText, "style").value_or(""));
  style.erase(std::remove(style.begin(), style.end(), ' '), style.end());
  return style.find(std::string(property) + ":always") != std::string::npos;
}

// One page's stretch of the body, before it is looked at.
struct PageRange {
  std::size_t begin = 0;
  std::size_t end = 0;
  std::string viewport;
};

// Cuts the body into pages at its top-level parts and page breaks, leaving
// out the hidden contents list.
class PageCutter {
public:
  PageCutter(std::string_view html, std::size_t bodyStart)
      : html_(html), current_{bodyStart, bodyStart, {}} {}

  void Take(const Tag &tag) {
    const std::string_view text = html_.substr(tag.begin, tag.end - tag.begin);
    if (!tag.name.starts_with('/')) {
      if (depth_ == 0 && !skipping_)
        TopLevelStart(tag, text);
      depth_ += finishing::OpensElement(tag, text) ? 1 : 0;
    } else if (!finishing::IsVoidElement(std::string_view(tag.name).substr(1))) {
      // "</br>" closes nothing.
      depth_ = std::max(depth_ - 1, 0);
      if (depth_ == 0)
        TopLevelEnd(tag);
    }
  }

  std::vector<PageRange> Finish(std::size_t bodyEnd) {
    Cut(std::max(bodyEnd, current_.begin));
    return std::move(ranges_);
  }

private:
  void Cut(std::size_t at) {
    current_.end = at;
    if (current_.end > current_.begin)
      ranges_.push_back(current_);
    current_ = {at, at, {}};
  }

  void TopLevelStart(const Tag &tag, std::string_view text) {
    if (tag.name.empty())
      return;
    if (tag.name == "mbp:pagebreak") {
      Cut(tag.begin);
      current_.begin = tag.end;
    } else if (tag.name == "nav" && Attribute(text, "id") == finishing::kContentsNavId) {
      Cut(tag.begin);
      skipping_ = true;
    } else {
      const bool part = HasClass(text, "bookconv-part");
      if (part || StyleSays(text, "page-break-before"))
        Cut(tag.begin);
      if (part)
        current_.viewport = std::string(Attribute(text, "data-viewport").value_or(""));
      cutAfterClose_ = StyleSays(text, "page-break-after");
    }
  }

  void TopLevelEnd(const Tag &tag) {
    if (skipping_) {
      skipping_ = false;
      current_.begin = tag.end;
    } else if (cutAfterClose_) {
      Cut(tag.end);
      cutAfterClose_ = false;
    }
  }

  std::string_view html_;
  PageRange current_;
  std::vector<PageRange> ranges_;
  int depth_ = 0;
  bool skipping_ = false;
  bool cutAfterClose_ = false;
};

// The pages of the body that starts after tag `body`.
std::vector<PageRange> PageRanges(std::string_view html, const std::vector<Tag> &tags,
                                  std::size_t body) {
  PageCutter cutter(html, tags[body].end);
  for (std::size_t i = body + 1; i < tags.size(); ++i) {
    if (tags[i].name == "/body" || tags[i].name == "/html")
      return cutter.Finish(tags[i].begin);
    cutter.Take(tags[i]);
  }
  return cutter.Finish(html.size());
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
  const auto first =
      std::lower_bound(tags.begin(), tags.end(), range.begin,
                       [](const Tag &tag, std::size_t at) { return tag.begin < at; });
  for (const Tag &tag : std::span(first, tags.end())) {
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

std::vector<Tag>::const_iterator FindTag(const std::vector<Tag> &tags, std::string_view name) {
  return std::find_if(tags.begin(), tags.end(), [&](const Tag &tag) { return tag.name == name; });
}

// A PDF page may be at most 200 inches on a side (14,400 points): a larger
// stated size is scaled down whole, keeping its shape; none is below 3 points.
PixelSize Bounded(PixelSize size) {
  constexpr double kLargest = 19200; // pixels, at 0.75 points each
  constexpr double kSmallest = 4;
  const double scale = std::min(1.0, kLargest / std::max(size.width, size.height));
  return {std::max(size.width * scale, kSmallest), std::max(size.height * scale, kSmallest)};
}

// A page's size: its viewport, else the book's original resolution, else its
// picture's size; a picture page's spread keeps the picture's shape.
PixelSize PageSize(const PageRange &range, const LayoutFacts &facts,
                   const std::optional<PixelSize> &picture, bool pictureOnly) {
  if (const auto viewport = ParseViewport(range.viewport))
    return *viewport;
  const PixelSize stated = facts.originalResolution.value_or(picture.value_or(kFallbackSize));
  return pictureOnly ? SpreadSize(stated, picture) : stated;
}

BookPage MakePage(std::string_view html, const PageRange &range, const PageContent &content,
                  const LayoutFacts &facts, const PictureSizes &sizes) {
  BookPage page;
  page.markup = std::string(html.substr(range.begin, range.end - range.begin));
  const bool pictureOnly =
      content.pictures.size() == 1 && !content.showsMore && !content.pictures[0].empty();
  const std::optional<PixelSize> picture =
      content.pictures.empty() ? std::nullopt : sizes(content.pictures[0]);
  page.size = Bounded(PageSize(range, facts, picture, pictureOnly));
  if (pictureOnly && picture)
    page.picture = content.pictures[0];
  return page;
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
  const auto head = FindTag(tags, "head");
  const auto headEnd = FindTag(tags, "/head");
  if (head != tags.end() && headEnd != tags.end() && headEnd->begin > head->end)
    book.head = std::string(html.substr(head->end, headEnd->begin - head->end));
  const auto body = FindTag(tags, "body");
  if (body == tags.end())
    return book;
  std::vector<std::string> pendingKeys; // markers on a stretch that shows nothing
  for (const PageRange &range :
       PageRanges(html, tags, static_cast<std::size_t>(body - tags.begin()))) {
    PageContent content = ReadContent(html, tags, range);
    pendingKeys.insert(pendingKeys.end(), content.markKeys.begin(), content.markKeys.end());
    if (content.pictures.empty() && !content.showsMore)
      continue;
    BookPage page = MakePage(html, range, content, facts, sizes);
    page.markKeys = std::move(pendingKeys);
    pendingKeys.clear();
    book.pages.push_back(std::move(page));
  }
  if (!book.pages.empty())
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
