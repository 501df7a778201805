#include "kf8/kf8_html.h"

#include <unordered_set>

#include "index/book_contents.h"
#include "mobi6/filepos_links.h"
#include "markup/html_entities.h"
#include "kf8/kf8_links.h"
#include "kf8/kf8_markup.h"
#include "kf8/kf8_styles.h"
#include "markup/markup_tags.h"
#include "common/text_util.h"

namespace {

constexpr std::string_view kPosPrefix = "kindle:pos:fid:";

// Every position the book points at: its links, contents, guide and start.
std::vector<std::uint64_t> TargetPositions(const Kf8Document &document) {
  std::vector<std::uint64_t> positions;
  for (const Kf8Part &part : document.parts) {
    const std::string_view text = part.text;
    for (std::size_t at = text.find(kPosPrefix); at != std::string_view::npos;
         at = text.find(kPosPrefix, at + 1))
      if (const auto position = LinkPosition(document.fragments, text.substr(at, 64)))
        positions.push_back(*position);
  }
  for (const NcxEntry &entry : document.contents)
    if (const auto position = ContentsPosition(entry, document.fragments))
      positions.push_back(*position);
  for (const GuideEntry &entry : document.guide)
    if (entry.fid)
      if (const auto position =
              FragmentPosition(document.fragments, *entry.fid, entry.offset.value_or(0)))
        positions.push_back(*position);
  if (document.startPosition)
    positions.push_back(*document.startPosition);
  return positions;
}

// The style sheets of the book: its style flows, in flow order, then the
// <style> elements of the parts' heads, each once.
std::vector<std::string_view> StyleTexts(const Kf8Document &document,
                                         std::span<const PartBody> bodies) {
  std::vector<std::string_view> styles;
  for (const Flow &flow : document.flows)
    if (flow.kind == FlowKind::StyleSheet || flow.kind == FlowKind::StyleSnippet)
      styles.push_back(flow.text);
  std::unordered_set<std::string_view> seen;
  for (std::size_t i = 0; i < document.parts.size(); ++i) {
    const std::string_view head =
        std::string_view(document.parts[i].text).substr(0, bodies[i].start);
    ForEachClosedTag(head, [&](std::string_view tag) {
      if (!IsStartTag(tag) || !SameName(TagName(tag), "style"))
        return;
      const std::size_t from = static_cast<std::size_t>(tag.data() + tag.size() - head.data());
      const std::size_t to = head.find("</", from);
      const std::string_view style =
          head.substr(from, to == std::string_view::npos ? 0 : to - from);
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

// The page size a fixed-layout part states in its head, as
// <meta name="viewport" content="width=W, height=H">; empty when it has none.
std::string_view PartViewport(std::string_view part, const PartBody &body) {
  std::string_view viewport;
  ForEachClosedTag(part.substr(0, body.start), [&](std::string_view tag) {
    if (viewport.empty() && IsStartTag(tag) && SameName(TagName(tag), "meta") &&
        SameName(textutil::Attribute(tag, "name").value_or(""), "viewport"))
      viewport = textutil::Attribute(tag, "content").value_or("");
  });
  return viewport;
}

std::string PartOpening(std::size_t index, std::string_view part, const PartBody &body) {
  std::string out = "<div class=\"bookconv-part";
  const std::string_view classes = textutil::Attribute(body.tag, "class").value_or("");
  if (!classes.empty())
    out += " " + std::string(classes);
  out += "\" id=\"" + PartTopId(index, body) + "\"";
  if (const std::string_view viewport = PartViewport(part, body); !viewport.empty())
    out += " data-viewport=\"" + EscapeHtml(viewport) + "\"";
  std::string style(textutil::Attribute(body.tag, "style").value_or(""));
  if (index > 0)
    style += style.empty() ? "page-break-before:always" : ";page-break-before:always";
  if (!style.empty())
    out += " style=\"" + EscapeHtml(style) + "\"";
  return out + ">";
}

} // namespace

bool WriteKf8Html(std::FILE *out, const Kf8Document &document, std::string &startId) {
  HtmlPieceWriter writer(out, document.windows1252);
  std::vector<PartBody> bodies;
  bodies.reserve(document.parts.size());
  for (const Kf8Part &part : document.parts)
    bodies.push_back(FindBody(part.text));
  const Kf8Anchors anchors(document.parts, bodies, TargetPositions(document));
  const std::string *start =
      document.startPosition ? anchors.IdOf(*document.startPosition) : nullptr;
  startId = start ? *start : std::string();

  std::string piece =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
      "<html><head><meta http-equiv=\"Content-Type\" content=\"text/html; charset=utf-8\"/>";
  const FlowText flowTexts = Kf8FlowTexts(document.flows);
  if (!document.title.empty())
    piece += "<title>" + EscapeHtml(document.title) + "</title>";
  for (const std::string_view style : StyleTexts(document, bodies))
    piece += "<style type=\"text/css\">" +
             RewriteStyleSheet(WithoutCdata(style), document.resources, flowTexts) + "</style>\n";
  piece += "</head><body>\n";
  if (!writer.WritePiece(piece))
    return false;

  const Kf8LinkContext context{document.fragments, document.flows, document.resources, anchors};
  std::size_t budget = 0;
  for (const Kf8Part &part : document.parts)
    budget += part.text.size();
  budget = budget * 4 + (std::size_t{16} << 20);
  for (std::size_t i = 0; i < document.parts.size(); ++i) {
    piece = PartOpening(i, document.parts[i].text, bodies[i]);
    WritePartBody(document.parts[i].text, i, bodies[i], context, budget, piece);
    piece += "</div>\n";
    if (!writer.WritePiece(piece))
      return false;
  }

  piece = ContentsNav(ContentsFromNcx(document.contents, [&](const NcxEntry &entry) {
    const auto position = ContentsPosition(entry, document.fragments);
    const std::string *id = position ? anchors.IdOf(*position) : nullptr;
    return id ? *id : std::string();
  }));
  return writer.WritePiece(piece + "\n</body></html>\n");
}
