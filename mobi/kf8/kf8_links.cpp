#include "kf8/kf8_links.h"

#include <algorithm>

#include "kf8/kf8_markup.h"
#include "kf8/kf8_styles.h"
#include "kf8/kindle_address.h"
#include "markup/markup_tags.h"
#include "common/text_util.h"

namespace {

constexpr std::string_view kPosPrefix = "kindle:pos:fid:";
constexpr std::string_view kOffMark = ":off:";
constexpr std::string_view kEmbedPrefix = "kindle:embed:";
constexpr std::string_view kKindle = "kindle:";

bool StartsWith(std::string_view text, std::string_view prefix) {
  return text.substr(0, prefix.size()) == prefix;
}

// The base-32 digits that follow `prefix` in `address`.
std::string_view DigitsAfter(std::string_view address, std::string_view prefix) {
  if (!StartsWith(address, prefix))
    return {};
  const std::string_view rest = address.substr(prefix.size());
  const std::size_t end =
      rest.find_first_not_of("0123456789ABCDEFGHIJKLMNOPQRSTUVabcdefghijklmnopqrstuv");
  return rest.substr(0, end);
}

// The flow a "kindle:flow:" address names.
std::optional<std::uint32_t> FlowNumber(std::string_view address) {
  const auto parsed = ParseKindleAddress(address);
  return parsed && parsed->kind == KindleAddress::Kind::Flow ? std::optional(parsed->number)
                                                             : std::nullopt;
}

std::string PartPrefix(std::size_t index) { return "p" + std::to_string(index) + "-"; }

// The id a start tag already carries: its id, or the name of an <a>.
std::string_view ExistingId(std::string_view tag) {
  const std::string_view id = textutil::Attribute(tag, "id").value_or("");
  if (!id.empty() || !SameName(TagName(tag), "a"))
    return id;
  return textutil::Attribute(tag, "name").value_or("");
}

// Calls `visit(tag, start, end)` for every closed tag of `text` within
// [from, to), with offsets into `text`.
template <typename Visit>
void ForEachTagIn(std::string_view text, std::size_t from, std::size_t to, Visit visit) {
  const std::string_view range = text.substr(from, to - from);
  ForEachClosedTag(range, [&](std::string_view tag) {
    const std::size_t start = static_cast<std::size_t>(tag.data() - text.data());
    visit(tag, start, start + tag.size());
  });
}

} // namespace

FlowText Kf8FlowTexts(const std::vector<Flow> &flows) {
  return [&flows](std::uint32_t number) -> std::optional<std::string_view> {
    if (number == 0 || number >= flows.size())
      return std::nullopt;
    return flows[number].text;
  };
}

std::optional<std::uint64_t> FragmentPosition(const std::vector<FragmentEntry> &fragments,
                                              std::uint32_t fid, std::uint32_t offset) {
  if (fid >= fragments.size())
    return std::nullopt;
  return std::uint64_t{fragments[fid].insertPosition} + offset;
}

std::optional<std::uint64_t> LinkPosition(const std::vector<FragmentEntry> &fragments,
                                          std::string_view address) {
  const std::string_view fidDigits = DigitsAfter(address, kPosPrefix);
  const auto fid = Base32Number(fidDigits);
  const std::string_view rest =
      address.substr(std::min(address.size(), kPosPrefix.size() + fidDigits.size()));
  const auto offset = Base32Number(DigitsAfter(rest, kOffMark));
  if (!fid || !offset)
    return std::nullopt;
  return FragmentPosition(fragments, *fid, *offset);
}

std::optional<std::uint64_t> ContentsPosition(const NcxEntry &entry,
                                              const std::vector<FragmentEntry> &fragments) {
  if (entry.fid)
    if (const auto position = FragmentPosition(fragments, *entry.fid, entry.offset.value_or(0)))
      return position;
  return entry.position;
}

PartBody FindBody(std::string_view part) {
  PartBody body{0, part.size(), {}};
  bool headEnded = false;
  ForEachClosedTag(part, [&](std::string_view tag) {
    const std::size_t start = static_cast<std::size_t>(tag.data() - part.data());
    const std::string_view name = TagName(tag);
    if (IsStartTag(tag) && SameName(name, "body") && body.tag.empty()) {
      body.tag = tag;
      body.start = start + tag.size();
    } else if (IsEndTag(tag) && SameName(name, "head") && body.tag.empty() && !headEnded) {
      headEnded = true;
      body.start = start + tag.size();
    } else if (IsEndTag(tag) && (SameName(name, "body") || SameName(name, "html")) &&
               start >= body.start) {
      body.end = std::min(body.end, start);
    }
  });
  return body;
}

std::string PartTopId(std::size_t index, const PartBody &body) {
  const std::string_view id = textutil::Attribute(body.tag, "id").value_or("");
  return id.empty() ? "p" + std::to_string(index) : PartPrefix(index) + std::string(id);
}

Kf8Anchors::Kf8Anchors(std::span<const Kf8Part> parts, std::span<const PartBody> bodies,
                       std::vector<std::uint64_t> positions)
    : anchors_(parts.size()), ids_(parts.size()) {
  std::sort(positions.begin(), positions.end());
  positions.erase(std::unique(positions.begin(), positions.end()), positions.end());
  // Parts by start, for finding the part that holds a position.
  std::vector<std::size_t> byStart(parts.size());
  for (std::size_t i = 0; i < parts.size(); ++i)
    byStart[i] = i;
  std::stable_sort(byStart.begin(), byStart.end(),
                   [&](std::size_t a, std::size_t b) { return parts[a].start < parts[b].start; });
  std::vector<std::vector<std::pair<std::size_t, std::uint64_t>>> targets(parts.size());
  for (const std::uint64_t position : positions) {
    const auto after =
        std::upper_bound(byStart.begin(), byStart.end(), position,
                         [&](std::uint64_t p, std::size_t i) { return p < parts[i].start; });
    if (after == byStart.begin())
      continue;
    const std::size_t part = *std::prev(after);
    if (position <= parts[part].End())
      targets[part].emplace_back(static_cast<std::size_t>(position - parts[part].start), position);
  }
  for (std::size_t i = 0; i < parts.size(); ++i)
    ResolvePart(i, parts[i], bodies[i], targets[i]);
}

void Kf8Anchors::ResolvePart(std::size_t index, const Kf8Part &part, const PartBody &body,
                             std::vector<std::pair<std::size_t, std::uint64_t>> &targets) {
  // Targets arrive by position, so by place; each tag is met once.
  std::size_t next = 0;
  while (next < targets.size() && targets[next].first < body.start)
    idOf_.emplace(targets[next++].second, PartTopId(index, body));
  ForEachTagIn(
      part.text, body.start, body.end,
      [&](std::string_view tag, std::size_t start, std::size_t end) {
        const std::string_view existing = IsStartTag(tag) ? ExistingId(tag) : std::string_view{};
        if (!existing.empty())
          ids_[index].emplace(existing);
        for (; next < targets.size() && targets[next].first < start; ++next)
          Place(index, targets[next].second, targets[next].first, false, {});
        for (; next < targets.size() && targets[next].first == start && IsStartTag(tag); ++next)
          Place(index, targets[next].second, start, true, std::string(existing));
        // A target inside a tag moves behind it.
        for (std::size_t inside = next; inside < targets.size() && targets[inside].first < end;
             ++inside)
          targets[inside].first = end;
      });
  for (; next < targets.size(); ++next)
    Place(index, targets[next].second, std::min(targets[next].first, body.end), false, {});
}

void Kf8Anchors::Place(std::size_t part, std::uint64_t position, std::size_t place, bool onTag,
                       std::string existingId) {
  if (!existingId.empty()) {
    idOf_.emplace(position, PartPrefix(part) + existingId);
    return;
  }
  std::vector<Kf8Anchor> &anchors = anchors_[part];
  if (anchors.empty() || anchors.back().place != place || anchors.back().onTag != onTag)
    anchors.push_back({place, onTag, "kf8-" + std::to_string(position)});
  idOf_.emplace(position, anchors.back().id);
}

const std::string *Kf8Anchors::IdOf(std::uint64_t position) const {
  const auto found = idOf_.find(position);
  return found == idOf_.end() ? nullptr : &found->second;
}

bool Kf8Anchors::HasId(std::size_t part, std::string_view id) const {
  return part < ids_.size() && ids_[part].contains(std::string(id));
}

namespace {

// Rewrites markup: one part's body, or an SVG flow inlined into it (`inFlow`:
// its ids and local links are its own and stay as they are).
class MarkupWriter {
public:
  MarkupWriter(std::size_t index, const Kf8LinkContext &context, std::size_t &budget, bool inFlow,
               std::string &out)
      : index_(index), context_(context), budget_(budget), inFlow_(inFlow), out_(out) {}

  void Write(std::string_view text, std::size_t from, std::size_t to,
             std::span<const Kf8Anchor> anchors) {
    anchors_ = anchors;
    next_ = 0;
    std::size_t cursor = from;
    ForEachTagIn(text, from, to, [&](std::string_view tag, std::size_t start, std::size_t end) {
      WriteText(text, cursor, start);
      const Kf8Anchor *onTag =
          next_ < anchors_.size() && anchors_[next_].place == start && anchors_[next_].onTag
              ? &anchors_[next_++]
              : nullptr;
      if (IsStartTag(tag))
        WriteStartTag(tag, onTag ? onTag->id : std::string_view{});
      else
        out_ += tag;
      cursor = end;
    });
    WriteText(text, cursor, to);
    for (; next_ < anchors_.size(); ++next_)
      WriteAnchor(anchors_[next_].id);
  }

private:
  // Text between tags, with the anchors that fall into it.
  void WriteText(std::string_view text, std::size_t from, std::size_t to) {
    // An anchor for the tag at `to` waits for it; any other is an element.
    for (; next_ < anchors_.size() && anchors_[next_].place <= to &&
           !(anchors_[next_].onTag && anchors_[next_].place == to);
         ++next_) {
      const std::size_t place = std::max(anchors_[next_].place, from);
      out_ += text.substr(from, place - from);
      from = place;
      WriteAnchor(anchors_[next_].id);
    }
    out_ += text.substr(from, to - from);
  }

  void WriteAnchor(std::string_view id) {
    out_ += "<a id=\"";
    out_ += id;
    out_ += "\"></a>";
  }

  void WriteStartTag(std::string_view tag, std::string_view anchorId) {
    ParsedTag parsed = ParsedTag::Parse(tag);
    if (InlinedSvg(parsed))
      return;
    // The id the book gave the element, kept once and made unique per part.
    const std::string ownId = inFlow_ ? std::string() : std::string(ExistingId(tag));
    const bool nameIsId = !ownId.empty() && !parsed.Find("id");
    std::vector<ParsedTag::Attribute> kept;
    std::string pageBreak;
    for (ParsedTag::Attribute &attribute : parsed.attributes) {
      const std::string &name = attribute.name;
      if (SameName(name, "aid") || (!inFlow_ && SameName(name, "id")) ||
          (nameIsId && SameName(name, "name")))
        continue;
      if (SameName(name, "data-AmznPageBreak")) {
        pageBreak = "page-break-after:" + attribute.value;
        continue;
      }
      if (auto value = RewriteValue(name, attribute.value))
        kept.push_back({name, std::move(*value)});
    }
    if (!ownId.empty())
      kept.push_back({"id", PartPrefix(index_) + ownId});
    else if (!anchorId.empty())
      kept.push_back({"id", std::string(anchorId)});
    parsed.attributes = std::move(kept);
    if (!pageBreak.empty()) {
      ParsedTag::Attribute *style = parsed.Find("style");
      const std::string before = style ? style->value : std::string();
      parsed.Set("style", before.empty() ? pageBreak : before + ";" + pageBreak);
    }
    parsed.AppendTo(out_);
  }

  // The new value of an attribute, or nothing when the attribute goes.
  std::optional<std::string> RewriteValue(std::string_view name, const std::string &value) {
    if (SameName(name, "style"))
      return value.find(kKindle) == std::string::npos
                 ? value
                 : RewriteStyleAttribute(value, context_.resources, FlowTexts());
    const bool address =
        SameName(name, "href") || SameName(name, "src") || SameName(name, "xlink:href");
    if (address && StartsWith(value, kPosPrefix)) {
      const auto position = LinkPosition(context_.fragments, value);
      const std::string *id = position ? context_.anchors.IdOf(*position) : nullptr;
      return id ? std::optional<std::string>("#" + *id) : std::nullopt;
    }
    if (address && StartsWith(value, kEmbedPrefix)) {
      const auto parsed = ParseKindleAddress(value);
      std::string file = parsed ? context_.resources.Name(parsed->number) : std::string();
      if (file.empty() && !SameName(name, "src"))
        return std::nullopt; // a link to nothing goes; a picture keeps an empty source
      return file;
    }
    if (value.find(kKindle) != std::string::npos)
      return std::nullopt;
    if (address && !inFlow_ && StartsWith(value, "#")) {
      const std::string_view id = std::string_view(value).substr(1);
      return context_.anchors.HasId(index_, id)
                 ? std::optional<std::string>("#" + PartPrefix(index_) + std::string(id))
                 : std::nullopt;
    }
    return value;
  }

  FlowText FlowTexts() const { return Kf8FlowTexts(context_.flows); }

  // Writes the SVG flow a picture names in place of the picture; true when
  // the picture is taken care of that way.
  bool InlinedSvg(ParsedTag &picture) {
    const ParsedTag::Attribute *source = picture.Find("src");
    if (!source)
      source = picture.Find("xlink:href");
    const auto number = source ? FlowNumber(source->value) : std::nullopt;
    if (!number)
      return false;
    const std::vector<Flow> &flows = context_.flows;
    if (inFlow_ || *number == 0 || *number >= flows.size() || flows[*number].kind != FlowKind::Svg)
      return false; // the address is dropped with the other kindle: ones
    const std::string_view flow = flows[*number].text;
    const std::string_view svg = flow.substr(std::min(flow.find("<svg"), flow.size()));
    if (svg.size() > budget_)
      return true;
    budget_ -= svg.size();
    MarkupWriter(index_, context_, budget_, true, out_).Write(svg, 0, svg.size(), {});
    return true;
  }

  std::size_t index_;
  const Kf8LinkContext &context_;
  std::size_t &budget_;
  bool inFlow_;
  std::string &out_;
  std::span<const Kf8Anchor> anchors_;
  std::size_t next_ = 0;
};

} // namespace

void WritePartBody(std::string_view part, std::size_t index, const PartBody &body,
                   const Kf8LinkContext &context, std::size_t &budget, std::string &out) {
  MarkupWriter(index, context, budget, false, out)
      .Write(part, body.start, body.end, context.anchors.AnchorsOf(index));
}
