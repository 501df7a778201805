#include "book_layout.h"

#include <algorithm>
#include <array>
#include <cctype>
#include <optional>
#include <vector>

#include "html_tags.h"

namespace layout {

namespace {

using finishing::Attribute;
using finishing::Edit;
using finishing::Insertion;
using finishing::IsBlank;
using finishing::Lower;
using finishing::Tag;

// The renderer draws one CSS pixel as about 0.58 pt whatever its smart
// shrinking and DPI settings say (measured: 21px type gives a 14 pt word box
// and 13-14 words a line between margins of 20 mm on A4). The page's text
// area is about 1,260 of those pixels high, so a picture of 1,200 fits a page
// with its line. A word wider than the line would make the renderer shrink
// the whole page to fit it, so long words (addresses) are given places to
// break (see BreakLongWords; "word-wrap: break-word" on the body would do it
// too, at twice the renderer's time). The HTML font sizes are absolute (size
// 3 is the body's), so they are given relative to the root. Lines stay ragged: justified text
// takes the renderer nearly three times as long.
constexpr std::string_view kStyleSheet = R"(<style type="text/css">
html { font-size: 21px; }
body { font-family: serif; line-height: 1.35; }
p { margin: 0; }
p:not([width]):not([height]) { margin-top: 0.6em; }
h1, h2, h3, h4, h5, h6 { page-break-after: avoid; }
img { max-width: 100%; max-height: 1200px; page-break-inside: avoid; }
pre { word-wrap: break-word; }
font[size="1"], font[size="-2"] { font-size: 0.625rem; }
font[size="2"], font[size="-1"] { font-size: 0.8125rem; }
font[size="3"] { font-size: 1rem; }
font[size="4"], font[size="+1"] { font-size: 1.125rem; }
font[size="5"], font[size="+2"] { font-size: 1.5rem; }
font[size="6"], font[size="+3"] { font-size: 2rem; }
font[size="7"], font[size="+4"] { font-size: 3rem; }
</style>)";

// A dictionary is set smaller, as printed ones are: it is looked up, not read
// on.
constexpr std::string_view kDictionaryStyle =
    "<style type=\"text/css\">html { font-size: 17px; }</style>";

bool Contains(std::string_view text, std::string_view part) {
  return text.find(part) != std::string_view::npos;
}

// A guide reference that opens the book's look-up rather than a place in it.
bool IsLookUpReference(std::string_view tagText) {
  const std::string type = Lower(Attribute(tagText, "type").value_or(""));
  const std::string title = Lower(Attribute(tagText, "title").value_or(""));
  if (type == "search" || type == "dictionary" ||
      Contains(Lower(Attribute(tagText, "onclick").value_or("")), "index_search"))
    return true;
  return type == "index" && (Contains(title, "dictionary") || Contains(title, "look") ||
                             Contains(title, "search"));
}

// A length as the MOBI attributes give it ("1em", "0pt", "-2", "10%"); a bare
// number is in pixels. Nothing for any other text, which never reaches the
// style.
std::optional<std::string> CssLength(std::string_view value) {
  std::size_t at = value.starts_with('-') ? 1 : 0;
  const std::size_t digits = at;
  while (at < value.size() &&
         (std::isdigit(static_cast<unsigned char>(value[at])) || value[at] == '.'))
    ++at;
  if (at == digits)
    return std::nullopt;
  const std::string unit = Lower(value.substr(at));
  static constexpr std::array<std::string_view, 9> kUnits = {"em", "ex", "pt", "px", "pc",
                                                              "mm", "cm", "in", "%"};
  if (unit.empty())
    return std::string(value) + "px";
  if (std::find(kUnits.begin(), kUnits.end(), unit) == kUnits.end())
    return std::nullopt;
  return std::string(value);
}

// A paragraph's `width` is its first-line indent and its `height` the space
// before it; the book's own style, when it has one, still wins.
std::optional<Edit> ParagraphStyle(std::string_view html, const Tag &tag) {
  const std::string_view text = html.substr(tag.begin, tag.end - tag.begin);
  std::string style;
  if (const auto width = CssLength(Attribute(text, "width").value_or("")))
    style += "text-indent:" + *width + ";";
  if (const auto height = CssLength(Attribute(text, "height").value_or("")))
    style += "margin-top:" + *height + ";";
  if (style.empty())
    return std::nullopt;
  if (const auto own = Attribute(text, "style"); own && own->data() != nullptr) {
    // Ours go first inside the book's own style attribute.
    return Insertion(tag.begin + static_cast<std::size_t>(own->data() - text.data()), style);
  }
  const std::size_t close = text.ends_with("/>") ? text.size() - 2 : text.size() - 1;
  return Insertion(tag.begin + close, " style=\"" + style + "\"");
}

// A run of this many bytes with no space is longer than a line holds; it
// gets a place to break every kBreakEvery bytes. No word of prose is that
// long, and text in the scripts that need no spaces ends a run.
constexpr std::size_t kLongestWord = 40;
constexpr std::size_t kBreakEvery = 20;
constexpr std::string_view kWordBreak = "<wbr>";

// Bytes a run of unbroken text is made of: printable ASCII and two-byte UTF-8
// (Latin, Greek, Cyrillic); whitespace and the lead byte of a longer sequence
// end it.
bool ContinuesWord(unsigned char byte) {
  return (byte > 0x20 && byte < 0x7F) || (byte >= 0x80 && byte < 0xE0);
}

// Break places in the long runs of the text [from, to): never inside an
// entity or a UTF-8 sequence.
void BreakLongWords(std::string_view html, std::size_t from, std::size_t to,
                    std::vector<Edit> &edits) {
  std::size_t runStart = from;
  std::size_t sinceBreak = 0;
  bool inEntity = false;
  for (std::size_t at = from; at < to; ++at) {
    const unsigned char byte = static_cast<unsigned char>(html[at]);
    if (!ContinuesWord(byte)) {
      runStart = at + 1;
      sinceBreak = 0;
      inEntity = false;
      continue;
    }
    const bool startsCharacter = (byte & 0xC0) != 0x80;
    if (startsCharacter && !inEntity && at - runStart >= kLongestWord &&
        sinceBreak >= kBreakEvery) {
      edits.push_back(Insertion(at, std::string(kWordBreak)));
      sinceBreak = 0;
    }
    inEntity = byte == '&' || (inEntity && byte != ';');
    ++sinceBreak;
  }
}

// Where the default style sheet goes: first in the head, or in a head of its
// own after the <html> tag (or the XML declaration, or at the very start).
Edit StyleSheetPlace(std::string_view html, const std::vector<Tag> &tags, bool dictionary) {
  const std::string sheets =
      std::string(kStyleSheet) + std::string(dictionary ? kDictionaryStyle : "");
  // Only a head before the body holds it: every piece the book is cut into
  // repeats what comes before the body, and nothing after it.
  const auto body =
      std::find_if(tags.begin(), tags.end(), [](const Tag &tag) { return tag.name == "body"; });
  for (auto tag = tags.begin(); tag != body; ++tag)
    if (tag->name == "head")
      return {tag->end, tag->end, sheets};
  const std::string ownHead = "<head>" + sheets + "</head>";
  for (auto tag = tags.begin(); tag != body; ++tag)
    if (tag->name == "html")
      return {tag->end, tag->end, ownHead};
  const bool declared = !tags.empty() && tags.front().begin == 0 &&
                        html.substr(0, tags.front().end).starts_with("<?xml");
  const std::size_t at = declared ? tags.front().end : 0;
  return {at, at, ownHead};
}

} // namespace

bool HasLookUpReference(std::string_view html, const std::vector<Tag> &tags) {
  return std::any_of(tags.begin(), tags.end(), [&](const Tag &tag) {
    return tag.name == "reference" &&
           IsLookUpReference(html.substr(tag.begin, tag.end - tag.begin));
  });
}

std::vector<Edit> LayoutEdits(std::string_view html, const std::vector<Tag> &tags, bool dictionary,
                              bool coverPageFirst) {
  std::vector<Edit> edits{StyleSheetPlace(html, tags, dictionary)};
  bool shownSinceBreak = coverPageFirst;
  std::optional<std::size_t> lastBreak; // index of its edit
  std::size_t textFrom = 0;
  bool rawText = false;
  for (const Tag &tag : tags) {
    if (!IsBlank(html.substr(textFrom, tag.begin - textFrom)))
      shownSinceBreak = true;
    if (!rawText)
      BreakLongWords(html, textFrom, tag.begin, edits);
    textFrom = tag.end;
    rawText = tag.rawTextFollows;
    if (tag.name == "body") {
      shownSinceBreak = coverPageFirst;
    } else if (tag.name == "mbp:pagebreak") {
      const bool keep = dictionary || shownSinceBreak;
      if (keep && !dictionary)
        lastBreak = edits.size();
      edits.push_back({tag.begin, tag.end,
                       keep ? std::string(dictionary ? kEntryBreak : kPageBreak) : std::string()});
      shownSinceBreak = shownSinceBreak && dictionary;
    } else if (tag.name == "/mbp:pagebreak") {
      edits.push_back({tag.begin, tag.end, {}});
    } else if (tag.name == "p") {
      if (auto edit = ParagraphStyle(html, tag))
        edits.push_back(std::move(*edit));
    } else if (finishing::ShowsByItself(tag.name)) {
      shownSinceBreak = true;
    }
  }
  if (!rawText)
    BreakLongWords(html, textFrom, html.size(), edits);
  if (lastBreak && !shownSinceBreak)
    edits[*lastBreak].text.clear();
  return edits;
}

} // namespace layout
