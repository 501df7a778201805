#include "html_preparer.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <optional>
#include <set>

#include "pdf_text.h"
#include "common/text_util.h"

namespace finishing {

namespace {

// The digits of a decimal number without leading zeros ("0" for zeros only).
std::optional<std::string> Number(std::string_view digits) {
  const auto number = textutil::CanonicalDecimal(digits);
  return number ? std::optional<std::string>(*number) : std::nullopt;
}

// The number after `prefix` (lower case) when `value` is the prefix and a number.
std::optional<std::string> NumberAfter(std::string_view value, std::string_view prefix) {
  if (!textutil::StartsWithNoCase(value, prefix))
    return std::nullopt;
  return Number(value.substr(prefix.size()));
}

// The book as a list of tags, with the questions the preparation asks of them.
class TaggedHtml {
public:
  TaggedHtml(std::string_view html, const std::vector<Tag> &tags) : html_(html), tags_(tags) {}

  const std::vector<Tag> &Tags() const { return tags_; }
  std::string_view Text(const Tag &tag) const {
    return html_.substr(tag.begin, tag.end - tag.begin);
  }
  std::string_view Gap(std::size_t from, std::size_t to) const {
    return html_.substr(from, to - from);
  }
  std::string_view Between(std::size_t first, std::size_t last) const {
    return html_.substr(tags_[first].end, tags_[last].begin - tags_[first].end);
  }
  std::optional<std::string_view> AttributeOf(std::size_t index, std::string_view name) const {
    return Attribute(Text(tags_[index]), name);
  }

  // N of an anchor <a id="fileposN">.
  std::optional<std::string> AnchorNumber(std::size_t index) const {
    if (tags_[index].name != "a")
      return std::nullopt;
    const auto id = AttributeOf(index, "id");
    return id ? NumberAfter(*id, "filepos") : std::nullopt;
  }
  // N of a link <a href="#fileposN">, or of a link the library left in the
  // book's own form, <a filepos=N> with other attributes beside it.
  std::optional<std::string> LinkNumber(std::size_t index) const {
    if (tags_[index].name != "a")
      return std::nullopt;
    if (const auto href = AttributeOf(index, "href"))
      return NumberAfter(*href, "#filepos");
    return UnrewrittenLinkNumber(index);
  }
  // N of <a filepos=N> without an href.
  std::optional<std::string> UnrewrittenLinkNumber(std::size_t index) const {
    if (tags_[index].name != "a" || AttributeOf(index, "href"))
      return std::nullopt;
    const auto filepos = AttributeOf(index, "filepos");
    return filepos ? Number(*filepos) : std::nullopt;
  }

private:
  std::string_view html_;
  const std::vector<Tag> &tags_;
};

bool IsOneOf(const std::string &name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Tags that end a line of a table of contents, start or end.
bool IsLineBoundary(const std::string &tagName) {
  const std::string_view name =
      tagName.starts_with('/') ? std::string_view(tagName).substr(1) : std::string_view(tagName);
  static constexpr std::string_view kBoundaries[] = {
      "p",  "div", "li", "tr", "br", "dt", "dd",   "blockquote", "ul",  "ol", "table",
      "h1", "h2",  "h3", "h4", "h5", "h6", "body", "hr",         "mbp:pagebreak"};
  return std::find(std::begin(kBoundaries), std::end(kBoundaries), name) != std::end(kBoundaries);
}

// Containers by which books nest the lines of a table of contents.
int NestingStep(const std::string &tagName) {
  if (IsOneOf(tagName, {"ul", "ol", "blockquote", "dl"}))
    return 1;
  if (IsOneOf(tagName, {"/ul", "/ol", "/blockquote", "/dl"}))
    return -1;
  return 0;
}

struct TocLink {
  std::size_t open = 0;  // index of the <a> tag
  std::size_t close = 0; // index of the tag that ends its text
  std::string number;
  int depth = 0;
};

// The anchor the guide names as the table of contents: the tag index of
// <a id="fileposN"> for <reference type="toc" filepos=N>.
std::optional<std::size_t> FindTocAnchor(const TaggedHtml &html) {
  std::optional<std::string> tocNumber;
  const auto &tags = html.Tags();
  for (std::size_t i = 0; i < tags.size() && !tocNumber; ++i) {
    if (tags[i].name != "reference")
      continue;
    const auto type = html.AttributeOf(i, "type");
    const auto filepos = html.AttributeOf(i, "filepos");
    if (type && filepos && Lower(*type) == "toc")
      tocNumber = Number(*filepos);
  }
  if (!tocNumber)
    return std::nullopt;
  for (std::size_t i = 0; i < tags.size(); ++i)
    if (html.AnchorNumber(i) == tocNumber)
      return i;
  return std::nullopt;
}

// The links of the table-of-contents page that starts at tag `first`. The page
// ends at a page break, at the end of the body, or where one of its own links
// lands (a contents page directly before the first chapter).
std::vector<TocLink> CollectTocLinks(const TaggedHtml &html, std::size_t first) {
  const auto &tags = html.Tags();
  std::vector<TocLink> links;
  std::set<std::string> targets;
  std::optional<TocLink> open;
  int depth = 0;
  std::size_t i = first + 1;
  for (; i < tags.size(); ++i) {
    const std::string &name = tags[i].name;
    if (IsOneOf(name, {"mbp:pagebreak", "/body", "/html"}))
      break;
    if (const auto anchor = html.AnchorNumber(i); anchor && targets.contains(*anchor))
      break;
    depth += NestingStep(name);
    if (open && (name == "/a" || name == "a")) {
      open->close = i;
      links.push_back(*open);
      open.reset();
    }
    if (const auto number = html.LinkNumber(i)) {
      open = TocLink{i, i, *number, depth};
      targets.insert(*number);
    }
  }
  if (open) {
    open->close = std::min(i, tags.size() - 1);
    links.push_back(*open);
  }
  return links;
}

// The title of a contents line: the text of the whole line that holds the link
// (a chapter number in one cell and its name in the next, say), bounded by the
// neighbouring links.
std::string TocLineTitle(const TaggedHtml &html, const std::vector<TocLink> &links,
                         std::size_t k, std::size_t pageStart) {
  const auto &tags = html.Tags();
  const std::size_t lowest = k == 0 ? pageStart : links[k - 1].close;
  const std::size_t highest = k + 1 == links.size() ? tags.size() - 1 : links[k + 1].open;
  std::size_t lineStart = links[k].open - 1; // the text starts after this tag
  while (lineStart > lowest && !IsLineBoundary(tags[lineStart].name))
    --lineStart;
  std::size_t lineEnd = links[k].close; // and ends before this one
  while (lineEnd < highest && !IsLineBoundary(tags[lineEnd].name))
    ++lineEnd;
  return HtmlFragmentToText(html.Between(lineStart, lineEnd));
}

std::vector<OutlineEntry> TocOutline(const TaggedHtml &html) {
  std::vector<OutlineEntry> outline;
  const auto tocAnchor = FindTocAnchor(html);
  if (!tocAnchor)
    return outline;
  const std::vector<TocLink> links = CollectTocLinks(html, *tocAnchor);
  for (std::size_t k = 0; k < links.size(); ++k) {
    std::string title = TocLineTitle(html, links, k, *tocAnchor);
    if (!title.empty())
      outline.push_back({std::move(title), links[k].depth, AnchorMarkKey(links[k].number)});
  }
  return outline;
}

// The entries of the library's contents list, nested by its lists.
std::vector<OutlineEntry> ContentsNavOutline(const TaggedHtml &html) {
  const auto &tags = html.Tags();
  std::size_t i = 0;
  while (i < tags.size() && !(tags[i].name == "nav" && html.AttributeOf(i, "id") == kContentsNavId))
    ++i;
  std::vector<OutlineEntry> outline;
  int depth = 0;
  for (++i; i < tags.size() && tags[i].name != "/nav"; ++i) {
    depth += tags[i].name == "ol" ? 1 : tags[i].name == "/ol" ? -1 : 0;
    if (tags[i].name != "a")
      continue;
    std::size_t close = i + 1;
    while (close < tags.size() && tags[close].name != "/a" && tags[close].name != "/nav")
      ++close;
    if (close == tags.size())
      break;
    const auto href = html.AttributeOf(i, "href");
    outline.push_back(
        {HtmlFragmentToText(html.Between(i, close)), std::max(depth - 1, 0),
         href && href->starts_with('#') ? IdMarkKey(href->substr(1)) : std::string()});
    i = close;
  }
  return outline;
}

// Every id that a link of the book names with "#ID".
std::set<std::string, std::less<>> LinkedIds(const TaggedHtml &html) {
  std::set<std::string, std::less<>> ids;
  for (std::size_t i = 0; i < html.Tags().size(); ++i)
    if (const auto href = html.AttributeOf(i, "href");
        href && href->size() > 1 && href->front() == '#')
      ids.emplace(href->substr(1));
  return ids;
}

std::optional<int> HeadingLevel(const std::string &name) {
  if (name.size() == 2 && name[0] == 'h' && name[1] >= '1' && name[1] <= '6')
    return name[1] - '0';
  return std::nullopt;
}

struct Heading {
  std::size_t tag = 0;
  OutlineEntry entry;
};

// The headings of the body, for a book without a table of contents.
std::vector<Heading> CollectHeadings(const TaggedHtml &html) {
  const auto &tags = html.Tags();
  std::vector<Heading> headings;
  for (std::size_t i = 0; i < tags.size(); ++i) {
    const auto level = HeadingLevel(tags[i].name);
    if (!level)
      continue;
    std::size_t close = i + 1;
    while (close < tags.size() && tags[close].name != "/" + tags[i].name &&
           !HeadingLevel(tags[close].name))
      ++close;
    if (close == tags.size())
      break;
    std::string title = HtmlFragmentToText(html.Between(i, close));
    if (!title.empty())
      headings.push_back({i, {std::move(title), *level, "h" + std::to_string(headings.size())}});
  }
  return headings;
}

// Tags that may stand between a place and the text that begins there: other
// anchors, line and page breaks, the ends of elements and the starts of blocks.
bool StandsBeforeText(const TaggedHtml &html, std::size_t index) {
  const std::string &name = html.Tags()[index].name;
  if (name.starts_with('/'))
    return !IsOneOf(name, {"/body", "/html", "/table", "/tr", "/tbody"});
  return IsOneOf(name, {"p", "div", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "li",
                        "center", "dd", "dt", "br", "mbp:pagebreak"}) ||
         html.AnchorNumber(index).has_value();
}

// Where the text after tag `index` begins. A marker there moves with its text
// when the renderer pushes a heading or paragraph over to the next page; one
// put before the block would stay behind at the foot of the page.
std::size_t TextStart(const TaggedHtml &html, std::size_t index) {
  const auto &tags = html.Tags();
  std::size_t at = tags[index].end;
  for (std::size_t next = index + 1; next < tags.size(); ++next) {
    if (!IsBlank(html.Gap(at, tags[next].begin)) || !StandsBeforeText(html, next))
      break;
    at = tags[next].end;
  }
  return at;
}

std::string Marker(std::string_view key) {
  // Out of the flow, so the text around it keeps its place; one pixel, because
  // the renderer draws no link for an empty box.
  return "<a href=\"" + std::string(kMarkScheme) + std::string(key) +
         "\" style=\"position:absolute;display:inline-block;width:1px;height:1px\"></a>";
}

// At most the height of a page of text, so the cover never spills over.
std::string CoverPage(const std::string &coverImage) {
  return "<div style=\"page-break-after:always;text-align:center\"><img src=\"" +
         textutil::XmlEscaped(coverImage) +
         "\" alt=\"\" style=\"max-width:100%;max-height:250mm\"/></div>";
}

// True when a picture of the book is the cover or a copy of it.
bool ShowsCover(const TaggedHtml &html, const BookCover &cover) {
  const auto &tags = html.Tags();
  for (std::size_t i = 0; i < tags.size(); ++i) {
    const auto src = tags[i].name == "img" ? html.AttributeOf(i, "src") : std::nullopt;
    if (src && (*src == cover.image ||
                std::find(cover.copies.begin(), cover.copies.end(), *src) != cover.copies.end()))
      return true;
  }
  return false;
}

// Where the cover page goes: at the start of the body, else after the XML
// declaration, else at the very start.
std::size_t CoverPlace(const TaggedHtml &html) {
  for (const Tag &tag : html.Tags())
    if (tag.name == "body")
      return tag.end;
  const auto &tags = html.Tags();
  return !tags.empty() && tags.front().begin == 0 && tags.front().name.empty() &&
                 html.Text(tags.front()).starts_with("<?xml")
             ? tags.front().end
             : 0;
}

} // namespace

std::string AnchorMarkKey(std::string_view digits) { return "a" + std::string(digits); }

std::string IdMarkKey(std::string_view id) {
  if (const auto number = NumberAfter(id, "filepos"); number && id.starts_with("filepos"))
    return AnchorMarkKey(*number);
  // Only letters and digits pass unchanged: the renderer may rewrite any
  // other character of an address.
  std::string key = "i";
  for (unsigned char c : id) {
    if (std::isalnum(c)) {
      key += static_cast<char>(c);
    } else {
      char escape[4];
      std::snprintf(escape, sizeof escape, "_%02X", c);
      key += escape;
    }
  }
  return key;
}

Preparation PrepareEdits(std::string_view html, const std::vector<Tag> &tags,
                         const BookCover &cover, std::string_view startId) {
  const TaggedHtml tagged(html, tags);
  Preparation preparation;
  FinishPlan &plan = preparation.plan;
  std::vector<Edit> &insertions = preparation.edits;
  const auto linked = LinkedIds(tagged);
  const auto isStart = [startId](std::optional<std::string_view> id) {
    return !startId.empty() && id == startId;
  };
  for (std::size_t i = 0; i < tags.size(); ++i) {
    if (const auto number = tagged.AnchorNumber(i)) {
      insertions.push_back(Insertion(TextStart(tagged, i), Marker(AnchorMarkKey(*number))));
      if (isStart(tagged.AttributeOf(i, "id")))
        plan.startMarkKey = AnchorMarkKey(*number);
    } else if (const auto id = tagged.AttributeOf(i, "id");
               id && (linked.contains(*id) || isStart(id))) {
      // Inside the element itself, not its first child: books move a child
      // off the page (a title page's heading kept for readers of the text).
      // An anchor, though, marks the text after it, like a filepos anchor.
      const bool anchor = tags[i].name == "a" && !tagged.AttributeOf(i, "href");
      insertions.push_back(
          Insertion(anchor ? TextStart(tagged, i) : tags[i].end, Marker(IdMarkKey(*id))));
      if (isStart(id))
        plan.startMarkKey = IdMarkKey(*id);
    }
    if (const auto href = tagged.AttributeOf(i, "href");
        href && href->size() > 1 && href->front() == '#') {
      const auto begin = static_cast<std::size_t>(href->data() - html.data());
      insertions.push_back(
          {begin, begin + href->size(), std::string(kLinkScheme) + IdMarkKey(href->substr(1))});
    }
    // The library rewrites only links whose one attribute is filepos; the
    // others would render as plain text.
    if (const auto number = tagged.UnrewrittenLinkNumber(i))
      insertions.push_back(Insertion(tags[i].begin + 2, " href=\"" + std::string(kLinkScheme) +
                                                            AnchorMarkKey(*number) + "\""));
  }

  plan.outline = ContentsNavOutline(tagged);
  if (plan.outline.empty())
    plan.outline = TocOutline(tagged);
  if (plan.outline.empty())
    for (Heading &heading : CollectHeadings(tagged)) {
      insertions.push_back(Insertion(tags[heading.tag].end, Marker(heading.entry.markKey)));
      plan.outline.push_back(std::move(heading.entry));
    }

  if (!cover.image.empty() && !ShowsCover(tagged, cover)) {
    insertions.push_back(Insertion(CoverPlace(tagged), CoverPage(cover.image)));
    plan.firstNumberedPage = 1;
    preparation.coverPage = true;
  }
  return preparation;
}

FinishPlan PrepareHtmlText(std::string &html, const BookCover &cover, std::string_view startId) {
  Preparation preparation = PrepareEdits(html, ScanTags(html), cover, startId);
  ApplyEdits(html, std::move(preparation.edits));
  return std::move(preparation.plan);
}

} // namespace finishing
