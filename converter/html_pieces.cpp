#include "html_pieces.h"

#include <algorithm>
#include <array>
#include <optional>

#include "book_layout.h"
#include "html_tags.h"

namespace layout {

namespace {

using finishing::Tag;

bool IsIn(std::string_view name, std::initializer_list<std::string_view> names) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

// Elements a cut may not fall inside: opened again, they would restart a
// numbering, a table's columns, a link or a preformatted block.
bool KeepsWhole(std::string_view name) {
  return IsIn(name, {"table", "tbody", "thead", "tfoot", "tr", "td", "th", "ol", "ul", "li", "dl",
                     "dt", "dd", "pre", "a", "svg", "math", "nav", "select", "textarea"});
}

bool EndsBlock(std::string_view name) {
  return IsIn(name, {"/p", "/div", "/h1", "/h2", "/h3", "/h4", "/h5", "/h6", "/blockquote",
                     "/table", "/ul", "/ol", "/dl", "/pre", "/center"});
}

// Start tags that end an open paragraph, as an HTML parser reads them.
bool ClosesParagraph(std::string_view name) {
  return IsIn(name, {"p", "div", "h1", "h2", "h3", "h4", "h5", "h6", "blockquote", "ul", "ol",
                     "dl", "table", "pre", "center", "hr"});
}

constexpr std::string_view kBreakBefore = "page-break-before:always";

// Where a page break before the element stands in its start tag: among the
// attributes, never in the name.
std::size_t BreakBeforeAt(std::string_view tagText) {
  const std::size_t attributes = tagText.find_first_of(" \t\r\n");
  return attributes == std::string_view::npos ? attributes
                                              : tagText.find(kBreakBefore, attributes);
}

// A place the text may be cut, with the elements open there (tag indexes,
// outermost first) and how many things the body shows before it.
struct Cut {
  std::size_t at = 0;
  bool pageBreak = false;
  std::vector<std::size_t> open;
  std::size_t shown = 0;
};

// Counts what the body shows: each stretch of text between tags that is more
// than white space and comments, outside style sheets and scripts, and each
// picture, rule or table.
class ShownCount {
public:
  explicit ShownCount(std::size_t from) : from_(from) {}

  void Take(std::string_view html, const Tag &tag) {
    Text(html.substr(from_, tag.begin - from_));
    from_ = tag.end;
    raw_ = tag.rawTextFollows;
    count_ += finishing::ShowsByItself(tag.name) ? 1 : 0;
  }
  // What is shown up to `at`, a place at or past the last tag taken.
  std::size_t Before(std::string_view html, std::size_t at) const {
    return count_ + (!raw_ && finishing::ShowsText(html.substr(from_, at - from_)) ? 1 : 0);
  }
  std::size_t Count() const { return count_; }

private:
  void Text(std::string_view text) { count_ += !raw_ && finishing::ShowsText(text) ? 1 : 0; }

  std::size_t from_;
  std::size_t count_ = 0;
  bool raw_ = false;
};

struct CutPlan {
  std::vector<Cut> cuts;
  std::size_t shown = 0; // in the whole body
};

class OpenElements {
public:
  explicit OpenElements(std::string_view html) : html_(html) {}

  void Take(const std::vector<Tag> &tags, std::size_t index) {
    const Tag &tag = tags[index];
    if (tag.name.empty() || tag.name.starts_with('!') || tag.name.starts_with('?'))
      return;
    if (tag.name.starts_with('/')) {
      const std::string_view name = std::string_view(tag.name).substr(1);
      const auto match = std::find_if(open_.rbegin(), open_.rend(),
                                      [&](std::size_t at) { return tags[at].name == name; });
      if (match != open_.rend())
        open_.erase(std::next(match).base(), open_.end());
      return;
    }
    if (ClosesParagraph(tag.name) && !open_.empty() && tags[open_.back()].name == "p")
      open_.pop_back();
    if (finishing::OpensElement(tag, html_.substr(tag.begin, tag.end - tag.begin)))
      open_.push_back(index);
  }

  bool Cuttable(const std::vector<Tag> &tags) const {
    return std::none_of(open_.begin(), open_.end(),
                        [&](std::size_t at) { return KeepsWhole(tags[at].name); });
  }
  const std::vector<std::size_t> &Indexes() const { return open_; }

private:
  std::string_view html_;
  std::vector<std::size_t> open_;
};

CutPlan CutPlaces(std::string_view html, const std::vector<Tag> &tags, std::size_t bodyTag,
                  std::size_t bodyEnd) {
  CutPlan plan;
  OpenElements open(html);
  ShownCount shown(tags[bodyTag].end);
  for (std::size_t i = bodyTag + 1; i < tags.size() && tags[i].begin < bodyEnd; ++i) {
    const Tag &tag = tags[i];
    const std::string_view text = html.substr(tag.begin, tag.end - tag.begin);
    if (!tag.name.starts_with('/') && BreakBeforeAt(text) != std::string_view::npos &&
        open.Cuttable(tags))
      plan.cuts.push_back({tag.begin, true, open.Indexes(), shown.Before(html, tag.begin)});
    open.Take(tags, i);
    shown.Take(html, tag);
    if ((EndsBlock(tag.name) || text == kEntryBreak) && open.Cuttable(tags))
      plan.cuts.push_back({tag.end, false, open.Indexes(), shown.Count()});
  }
  plan.shown = shown.Before(html, std::max(bodyEnd, tags[bodyTag].end));
  return plan;
}

// The cuts taken: a piece grows to `pieceBytes`, then ends at its last page
// break past half that size, or else at the next block boundary. No piece
// shows nothing: the renderer would make an empty page of it.
std::vector<const Cut *> ChooseCuts(const CutPlan &plan, std::size_t bodyStart,
                                    std::size_t pieceBytes) {
  std::vector<const Cut *> chosen;
  std::size_t start = bodyStart;
  std::size_t shownAtStart = 0;
  const Cut *lastBreak = nullptr;
  for (const Cut &cut : plan.cuts) {
    if (cut.at <= start || cut.shown == shownAtStart)
      continue;
    if (cut.pageBreak && cut.at - start >= pieceBytes / 2)
      lastBreak = &cut;
    if (cut.at - start < pieceBytes)
      continue;
    const Cut *taken = lastBreak != nullptr ? lastBreak : &cut;
    chosen.push_back(taken);
    start = taken->at;
    shownAtStart = taken->shown;
    lastBreak = nullptr;
  }
  if (!chosen.empty() && chosen.back()->shown == plan.shown)
    chosen.pop_back();
  return chosen;
}

std::string WithoutBreakBefore(std::string_view tagText) {
  std::string text(tagText);
  if (const std::size_t at = BreakBeforeAt(tagText); at != std::string::npos)
    text.replace(at, kBreakBefore.size(), "page-break-before:auto");
  return text;
}

class PieceWriter {
public:
  PieceWriter(std::string_view html, const std::vector<Tag> &tags, std::size_t bodyTag,
              std::string_view headStart)
      : html_(html), tags_(tags), prologue_(Prologue(html, tags, bodyTag, headStart)) {}

  std::string Piece(std::size_t from, const std::vector<std::size_t> &openAtStart, std::size_t to,
                    const std::vector<std::size_t> &openAtEnd, std::string_view ending) const {
    std::string piece = prologue_;
    for (std::size_t index : openAtStart)
      piece += WithoutBreakBefore(TagText(index));
    piece += WithoutTrailingBreaks(LeadingText(from, to));
    for (auto index = openAtEnd.rbegin(); index != openAtEnd.rend(); ++index)
      piece += "</" + tags_[*index].name + ">";
    piece += ending;
    return piece;
  }

private:
  static std::string Prologue(std::string_view html, const std::vector<Tag> &tags,
                              std::size_t bodyTag, std::string_view headStart) {
    std::string prologue(html.substr(0, tags[bodyTag].end));
    const auto head = std::find_if(tags.begin(), tags.begin() + static_cast<long>(bodyTag),
                                   [](const Tag &tag) { return tag.name == "head"; });
    const std::size_t at = head != tags.begin() + static_cast<long>(bodyTag)
                               ? head->end
                               : tags[bodyTag].begin;
    prologue.insert(at, head != tags.begin() + static_cast<long>(bodyTag)
                            ? std::string(headStart)
                            : "<head>" + std::string(headStart) + "</head>");
    return prologue;
  }

  std::string_view TagText(std::size_t index) const {
    return html_.substr(tags_[index].begin, tags_[index].end - tags_[index].begin);
  }

  // The text of [from, to) without a page break before its first text: a
  // piece begins a page anyway, and the renderer would leave that one empty.
  std::string LeadingText(std::size_t from, std::size_t to) const {
    const std::string_view text = html_.substr(from, to - from);
    std::string lead;
    std::size_t at = 0;
    while (at < text.size()) {
      const std::size_t tag = text.find_first_not_of(" \t\r\n", at);
      if (tag == std::string_view::npos || text[tag] != '<')
        break;
      const std::size_t close = text.find('>', tag);
      if (close == std::string_view::npos)
        break;
      const std::string_view tagText = text.substr(tag, close + 1 - tag);
      if (IsShown(tagText))
        break;
      lead += WithoutBreakBefore(tagText);
      at = close + 1;
    }
    return lead + std::string(text.substr(at));
  }

  // A page break at the end of a piece, inside the elements closed there,
  // would leave an empty page of its own. It stays without its break, so the
  // elements around it nest as they do in the whole.
  static std::string WithoutTrailingBreaks(std::string text) {
    static const std::string kept = WithoutBreakBefore(kPageBreak);
    std::size_t end = text.size();
    for (;;) {
      const std::string_view before = std::string_view(text).substr(0, end);
      const std::size_t last = before.find_last_not_of(" \t\r\n");
      if (last == std::string_view::npos || !before.substr(0, last + 1).ends_with(kPageBreak))
        return text;
      end = last + 1 - kPageBreak.size();
      text.replace(end, kPageBreak.size(), kept);
    }
  }

  static bool IsShown(std::string_view tagText) {
    const std::string name = finishing::Lower(tagText.substr(1, 4));
    return name.starts_with("img") || name.starts_with("svg") || name.starts_with("hr") ||
           name.starts_with("tabl") || name.starts_with("imag");
  }

  std::string_view html_;
  const std::vector<Tag> &tags_;
  std::string prologue_;
};

} // namespace

std::size_t PieceBytes(std::size_t htmlBytes, unsigned cores, bool dictionary) {
  const std::size_t kLargest = (dictionary ? 384 : 768) * 1024;
  constexpr std::size_t kSmallest = 64 * 1024;
  const std::size_t perCore = std::max<std::size_t>(cores, 1);
  std::size_t pieces = (htmlBytes + kLargest - 1) / kLargest;
  if (htmlBytes >= perCore * kSmallest)
    pieces = (std::max(pieces, perCore) + perCore - 1) / perCore * perCore;
  return pieces <= 1 ? htmlBytes + 1 : (htmlBytes + pieces - 1) / pieces;
}

std::vector<std::string> CutIntoPieces(std::string_view html, std::size_t pieceBytes,
                                       std::string_view headStart) {
  const std::vector<Tag> tags = finishing::ScanTags(html);
  const auto body =
      std::find_if(tags.begin(), tags.end(), [](const Tag &tag) { return tag.name == "body"; });
  if (body == tags.end())
    return {std::string(html)};
  const auto bodyClose = std::find_if(body, tags.end(), [](const Tag &tag) {
    return tag.name == "/body";
  });
  const std::size_t bodyTag = static_cast<std::size_t>(body - tags.begin());
  const std::size_t bodyEnd = bodyClose != tags.end() ? bodyClose->begin : html.size();
  const std::string_view ending = html.substr(bodyEnd);
  const std::string_view pieceEnding = "</body></html>";

  const CutPlan plan = CutPlaces(html, tags, bodyTag, bodyEnd);
  const PieceWriter writer(html, tags, bodyTag, headStart);
  std::vector<std::string> pieces;
  std::size_t from = body->end;
  std::vector<std::size_t> openAtStart;
  for (const Cut *cut : ChooseCuts(plan, body->end, pieceBytes)) {
    pieces.push_back(writer.Piece(from, openAtStart, cut->at, cut->open, pieceEnding));
    from = cut->at;
    openAtStart = cut->open;
  }
  pieces.push_back(writer.Piece(from, openAtStart, bodyEnd, {}, ending));
  return pieces;
}

} // namespace layout
