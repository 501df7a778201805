#include "kf8_html.h"

#include <unordered_set>

#include "filepos_links.h"
#include "kf8_links.h"
#include "kf8_markup.h"
#include "markup_tags.h"

namespace {

constexpr std::string_view kPosPrefix = "kindle:pos:fid:";

std::string Escaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (const char c : text) {
    switch (c) {
    case '&': out += "&amp;"; break;
    case '<': out += "&lt;"; break;
    case '>': out += "&gt;"; break;
    case '"': out += "&quot;"; break;
    default: out += c;
    }
  }
  return out;
}

// Every position the book points at: its links, contents, guide and start.
std::vector<std::uint64_t> TargetPositions(const Kf8Document &document) {
  std::vector<std::uint64_t> positions;
  for (const Kf8Part &part : document.parts) {
    const std::string_view text = part.text;
    for (std::size_t at = text.find(kPosPrefix); at != std::string_view::npos; at = text.find(kPosPrefix, at + 1))
      if (const auto position = LinkPosition(document.fragments, text.substr(at, 64)))
        positions.push_back(*position);
  }
  for (const NcxEntry &entry : document.contents)
    if (const auto position = ContentsPosition(entry, document.fragments))
      positions.push_back(*position);
  for (const GuideEntry &entry : document.guide)
    if (entry.fid)
      if (const auto position = FragmentPosition(document.fragments, *entry.fid, entry.offset.value_or(0)))
        positions.push_back(*position);
  if (document.startPosition)
    positions.push_back(*document.startPosition);
  return positions;
}

// The style sheets of the book: its style flows, in flow order, then the
// <style> elements of the parts' heads, each once.
std::vector<std::string_view> StyleTexts(const Kf8Document &document, std::span<const PartBody> bodies) {
  std::vector<std::string_view> styles;
  for (const Flow &flow : document.flows)
    if (flow.kind == FlowKind::StyleSheet || flow.kind == FlowKind::StyleSnippet)
      styles.push_back(flow.text);
  std::unordered_set<std::string_view> seen;
  for (std::size_t i = 0; i < document.parts.size(); ++i) {
    const std::string_view head = std::string_view(document.parts[i].text).substr(0, bodies[i].start);
    ForEachClosedTag(head, [&](std::string_view tag) {
      if (!IsStartTag(tag) || !SameName(TagName(tag), "style"))
        return;
      const std::size_t from = static_cast<std::size_t>(tag.data() + tag.size() - head.data());
      const std::size_t to = head.find("</", from);
      const std::string_view style = head.substr(from, to == std::string_view::npos ? 0 : to - from);
      if (seen.insert(style).second)
        styles.push_back(style);
    });
  }
  return styles;
}

// A style text without the CDATA marks that keep it inside markup.
std::string WithoutCdata(std::string_view style) {
  std::string out;
  out.reserve(style.size());
  for (std::size_t at = 0; at < style.size();) {
    if (style.substr(at, 9) == "<![CDATA[") {
      at += 9;
    } else if (style.substr(at, 3) == "]]>") {
      at += 3;
    } else {
      out += style[at++];
    }
  }
  return out;
}

std::string PartOpening(std::size_t index, const PartBody &body) {
  std::string out = "<div class=\"bookconv-part";
  const std::string_view classes = body.tag.empty() ? std::string_view{} : AttributeValue(body.tag, "class");
  if (!classes.empty())
    out += " " + std::string(classes);
  out += "\" id=\"" + PartTopId(index, body) + "\"";
  std::string style = body.tag.empty() ? std::string() : std::string(AttributeValue(body.tag, "style"));
  if (index > 0)
    style += style.empty() ? "page-break-before:always" : ";page-break-before:always";
  if (!style.empty())
    out += " style=\"" + Escaped(style) + "\"";
  return out + ">";
}

} // namespace

std::string ContentsNav(const std::vector<NcxEntry> &entries, const std::vector<ContentsItem> &items) {
  // Children by parent; an entry whose parent is missing, itself or not
  // shallower than it is a root, so the tree has no cycle.
  const std::size_t n = entries.size();
  std::vector<std::vector<std::size_t>> children(n + 1);
  for (std::size_t i = 0; i < n; ++i) {
    const auto parent = entries[i].parent;
    const bool nested = parent && *parent < n && *parent != i && entries[*parent].depth < entries[i].depth;
    children[nested ? *parent : n].push_back(i);
  }
  std::string out = "<nav id=\"bookconv-contents\" style=\"display:none\"><ol>";
  // Depth first without recursion: a path of (node, next child).
  std::vector<std::pair<std::size_t, std::size_t>> path{{n, 0}};
  while (!path.empty()) {
    auto &[node, next] = path.back();
    if (next == children[node].size()) {
      path.pop_back();
      out += path.empty() ? "</ol>" : (children[node].empty() ? "</li>" : "</ol></li>");
      continue;
    }
    const std::size_t child = children[node][next++];
    out += "<li><a";
    if (items[child].id)
      out += " href=\"#" + *items[child].id + "\"";
    out += ">" + Escaped(items[child].label) + "</a>";
    if (!children[child].empty())
      out += "<ol>";
    path.emplace_back(child, 0);
  }
  return out + "</nav>";
}

bool WriteKf8Html(std::FILE *out, const Kf8Document &document) {
  HtmlPieceWriter writer(out, document.windows1252);
  std::vector<PartBody> bodies;
  bodies.reserve(document.parts.size());
  for (const Kf8Part &part : document.parts)
    bodies.push_back(FindBody(part.text));
  const Kf8Anchors anchors(document.parts, bodies, TargetPositions(document));

  std::string piece = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
                      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"/>";
  if (!document.title.empty())
    piece += "<title>" + Escaped(document.title) + "</title>";
  for (const std::string_view style : StyleTexts(document, bodies))
    piece += "<style type=\"text/css\">" + document.rewriteStyles(WithoutCdata(style)) + "</style>\n";
  piece += "</head><body>\n";
  if (!writer.WritePiece(piece))
    return false;

  const Kf8LinkContext context{document.fragments, document.flows, document.resourceNames,
                               document.rewriteStyles, anchors};
  std::size_t budget = 0;
  for (const Kf8Part &part : document.parts)
    budget += part.text.size();
  budget = budget * 4 + (std::size_t{16} << 20);
  for (std::size_t i = 0; i < document.parts.size(); ++i) {
    piece = PartOpening(i, bodies[i]);
    WritePartBody(document.parts[i].text, i, bodies[i], context, budget, piece);
    piece += "</div>\n";
    if (!writer.WritePiece(piece))
      return false;
  }

  std::vector<ContentsItem> items;
  items.reserve(document.contents.size());
  for (const NcxEntry &entry : document.contents) {
    const auto position = ContentsPosition(entry, document.fragments);
    items.push_back({entry.label, position ? anchors.IdOf(*position) : nullptr});
  }
  piece = document.contents.empty() ? std::string() : ContentsNav(document.contents, items);
  return writer.WritePiece(piece + "\n</body></html>\n");
}
