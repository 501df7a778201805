#include "kf8/kf8_styles.h"

#include <algorithm>
#include <array>
#include <vector>

#include "kf8/kindle_address.h"
#include "common/text_util.h"

namespace {

constexpr std::size_t kNone = std::string_view::npos;
// Nesting deeper than any real style sheet; below it at-rules are still
// rewritten, beyond it only addresses are.
constexpr int kMaxNesting = 32;
// Everything flows add to one rewriting: a hostile book that imports or
// refers to its flows again and again gets empty addresses past this.
constexpr std::size_t kInlineBudget = std::size_t{64} << 20;
constexpr std::string_view kEmptyAddress = "data:,";

struct Context {
  const Kf8Resources &resources;
  const FlowText &flows;
  char quote;                          // how written addresses and names are quoted
  std::vector<std::uint32_t> inlining; // flows being imported, innermost last
  std::size_t inlined = 0;
};

bool IsNameChar(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' ||
         c == '_' || static_cast<unsigned char>(c) >= 0x80;
}

// Index just past the comment or string that starts at `i`, or `i` when none does.
std::size_t SkipCommentOrString(std::string_view css, std::size_t i) {
  if (css.compare(i, 2, "/*") == 0) {
    const std::size_t end = css.find("*/", i + 2);
    return end == kNone ? css.size() : end + 2;
  }
  const char quote = css[i];
  if (quote != '"' && quote != '\'')
    return i;
  for (++i; i < css.size(); ++i) {
    if (css[i] == '\\')
      ++i;
    else if (css[i] == quote || css[i] == '\n')
      return i + 1;
  }
  return css.size();
}

// The first of `stops` from `from` on outside comments, strings and brackets.
std::size_t FindAtTopLevel(std::string_view css, std::size_t from, std::string_view stops) {
  int depth = 0;
  for (std::size_t i = from; i < css.size();) {
    const std::size_t skipped = SkipCommentOrString(css, i);
    if (skipped != i) {
      i = skipped;
      continue;
    }
    const char c = css[i];
    if (depth == 0 && stops.find(c) != kNone)
      return i;
    if (c == '(' || c == '[')
      ++depth;
    else if ((c == ')' || c == ']') && depth > 0)
      --depth;
    ++i;
  }
  return kNone;
}

// The "}" closing the block opened at `open`, or the end of the text.
std::size_t BlockEnd(std::string_view css, std::size_t open) {
  std::size_t depth = 0;
  for (std::size_t i = open; i < css.size();) {
    const std::size_t skipped = SkipCommentOrString(css, i);
    if (skipped != i) {
      i = skipped;
      continue;
    }
    if (css[i] == '{')
      ++depth;
    else if (css[i] == '}' && --depth == 0)
      return i;
    ++i;
  }
  return css.size();
}

// `text` split at every top-level `separator`.
std::vector<std::string_view> SplitAtTopLevel(std::string_view text, char separator) {
  std::vector<std::string_view> pieces;
  const char stops[] = {separator, '\0'};
  std::size_t start = 0;
  for (std::size_t at; (at = FindAtTopLevel(text, start, std::string_view(stops, 1))) != kNone;
       start = at + 1)
    pieces.push_back(text.substr(start, at - start));
  pieces.push_back(text.substr(start));
  return pieces;
}

std::string Join(const std::vector<std::string> &pieces, std::string_view separator) {
  std::string joined;
  for (std::size_t i = 0; i < pieces.size(); ++i)
    joined.append(i ? separator : "").append(pieces[i]);
  return joined;
}

std::string Quoted(std::string_view text, char quote) {
  std::string quoted(1, quote);
  for (char c : text) {
    if (c == quote || c == '\\')
      quoted.push_back('\\');
    if (static_cast<unsigned char>(c) >= 0x20)
      quoted.push_back(c);
  }
  quoted.push_back(quote);
  return quoted;
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string encoded;
  encoded.reserve((bytes.size() + 2) / 3 * 4);
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    std::uint32_t group = static_cast<std::uint8_t>(bytes[i]) << 16;
    if (i + 1 < bytes.size())
      group |= static_cast<std::uint8_t>(bytes[i + 1]) << 8;
    if (i + 2 < bytes.size())
      group |= static_cast<std::uint8_t>(bytes[i + 2]);
    encoded.push_back(kDigits[group >> 18 & 63]);
    encoded.push_back(kDigits[group >> 12 & 63]);
    encoded.push_back(i + 1 < bytes.size() ? kDigits[group >> 6 & 63] : '=');
    encoded.push_back(i + 2 < bytes.size() ? kDigits[group & 63] : '=');
  }
  return encoded;
}

// ---------------------------------------------------------------------------
// Addresses

struct Url {
  std::size_t begin = 0; // at "url("
  std::size_t end = 0;   // past ")"
  std::string address;   // unquoted, unescaped
};

// The url(…) that starts at `at` (inside `css`), if one does.
std::optional<Url> UrlAt(std::string_view css, std::size_t at) {
  if (!textutil::StartsWithNoCase(css.substr(at), "url(") || (at > 0 && IsNameChar(css[at - 1])))
    return std::nullopt;
  Url url{at, 0, {}};
  std::size_t i = at + 4;
  while (i < css.size() && textutil::IsHtmlSpace(css[i]))
    ++i;
  const char quote = i < css.size() && (css[i] == '"' || css[i] == '\'') ? css[i] : ')';
  if (quote != ')')
    ++i;
  for (; i < css.size() && css[i] != quote; ++i) {
    if (css[i] == '\\' && i + 1 < css.size())
      ++i;
    url.address.push_back(css[i]);
  }
  if (quote != ')')
    i = css.find(')', i);
  if (i == kNone || i >= css.size())
    return std::nullopt;
  url.end = i + 1;
  url.address = std::string(textutil::Trimmed(url.address));
  return url;
}

std::string RewriteRules(std::string_view css, Context &context, int depth);

// The text flow `flow` adds in place of an import of it, or nothing when
// there is no such flow, it is already being imported, or the budget is spent.
std::optional<std::string> ImportedFlow(std::uint32_t flow, Context &context, int depth) {
  if (std::find(context.inlining.begin(), context.inlining.end(), flow) != context.inlining.end())
    return std::nullopt;
  const std::optional<std::string_view> text = context.flows ? context.flows(flow) : std::nullopt;
  if (!text || text->size() > kInlineBudget - context.inlined)
    return std::nullopt;
  context.inlined += text->size();
  context.inlining.push_back(flow);
  std::string rewritten = RewriteRules(*text, context, depth + 1);
  context.inlining.pop_back();
  return rewritten;
}

// What stands in url(…) for a kindle: address: a resource's file, or a flow
// as a data address.
std::string ResolvedAddress(const KindleAddress &address, Context &context, int depth) {
  if (address.kind == KindleAddress::Kind::Embed) {
    const std::string &name = context.resources.Name(address.number);
    return name.empty() ? std::string(kEmptyAddress) : name;
  }
  const std::string mime =
      address.mime.empty() ? std::string("text/css") : textutil::Lower(address.mime);
  std::optional<std::string> text;
  if (mime == "text/css") {
    text = ImportedFlow(address.number, context, depth);
  } else if (const auto flow = context.flows ? context.flows(address.number) : std::nullopt;
             flow && flow->size() <= kInlineBudget - context.inlined) {
    text = std::string(*flow);
    context.inlined += flow->size();
  }
  if (!text)
    return std::string(kEmptyAddress);
  return "data:" + mime + ";base64," + Base64(*text);
}

// `css` with every url(kindle:…) resolved; everything else as it was.
std::string RewriteUrls(std::string_view css, Context &context, int depth) {
  std::string out;
  out.reserve(css.size());
  for (std::size_t i = 0; i < css.size();) {
    const std::size_t skipped = SkipCommentOrString(css, i);
    if (skipped != i) {
      out.append(css.substr(i, skipped - i));
      i = skipped;
      continue;
    }
    const std::optional<Url> url = UrlAt(css, i);
    const std::optional<KindleAddress> address =
        url ? ParseKindleAddress(url->address) : std::nullopt;
    if (!url || (!address && !url->address.starts_with("kindle:"))) {
      out.push_back(css[i++]);
      continue;
    }
    const std::string resolved = address ? ResolvedAddress(*address, context, depth)
                                         : std::string(kEmptyAddress);
    out.append("url(").append(Quoted(resolved, context.quote)).append(")");
    i = url->end;
  }
  return out;
}

// ---------------------------------------------------------------------------
// Rules

// A media query list with the Kindle media types settled: amzn-kf8 holds
// here, amzn-mobi does not. Nothing when no query of the list can hold.
std::optional<std::string> RewriteMediaList(std::string_view list) {
  if (textutil::Trimmed(list).empty())
    return std::string();
  std::vector<std::string> kept;
  for (std::string_view query : SplitAtTopLevel(list, ',')) {
    query = textutil::Trimmed(query);
    std::string_view rest = query;
    const auto word = [&rest] {
      rest = textutil::Trimmed(rest);
      std::size_t n = 0;
      while (n < rest.size() && IsNameChar(rest[n]))
        ++n;
      const std::string taken = textutil::Lower(rest.substr(0, n));
      rest.remove_prefix(n);
      return taken;
    };
    std::string type = word();
    const bool negated = type == "not";
    const bool only = type == "only";
    if (negated || only)
      type = word();
    if (type != "amzn-kf8" && type != "amzn-mobi") {
      kept.emplace_back(query);
      continue;
    }
    if ((type == "amzn-kf8") != negated)
      kept.push_back(std::string(only ? "only " : "") + "all" + std::string(rest));
  }
  if (kept.empty())
    return std::nullopt;
  return Join(kept, ", ");
}

// The src descriptor of @font-face: a font resource is asked for by its
// family first, then by its file with the format hint the renderer knows.
std::string RewriteFontSources(std::string_view value, Context &context, int depth) {
  std::vector<std::string> sources;
  for (std::string_view source : SplitAtTopLevel(value, ',')) {
    const std::size_t start = source.find_first_not_of(" \t\r\n\f");
    const std::optional<Url> url = start == kNone ? std::nullopt : UrlAt(source, start);
    const std::optional<KindleAddress> address =
        url ? ParseKindleAddress(url->address) : std::nullopt;
    const std::string &name = address && address->kind == KindleAddress::Kind::Embed
                                  ? context.resources.Name(address->number)
                                  : std::string();
    const bool opentype = name.ends_with(".otf");
    if (!opentype && !name.ends_with(".ttf")) {
      sources.push_back(RewriteUrls(source, context, depth));
      continue;
    }
    const std::string &family = context.resources.FontFamily(address->number);
    std::string rewritten = " ";
    if (!family.empty())
      rewritten += "local(" + Quoted(family, context.quote) + "), ";
    rewritten += "url(" + Quoted(name, context.quote) + ") format(" +
                 Quoted(opentype ? "opentype" : "truetype", context.quote) + ")";
    sources.push_back(std::move(rewritten));
  }
  return Join(sources, ",");
}

std::string RewriteFontFace(std::string_view body, Context &context, int depth) {
  std::vector<std::string> declarations;
  for (std::string_view declaration : SplitAtTopLevel(body, ';')) {
    const std::size_t colon = declaration.find(':');
    if (colon != kNone && textutil::Lower(textutil::Trimmed(declaration.substr(0, colon))) == "src")
      declarations.push_back(std::string(declaration.substr(0, colon + 1)) +
                             RewriteFontSources(declaration.substr(colon + 1), context, depth));
    else
      declarations.push_back(RewriteUrls(declaration, context, depth));
  }
  return Join(declarations, ";");
}

// The lower-case name of the at-rule `prelude` opens ("media" for
// "@media print"), and where its "@" stands; empty for a style rule.
std::pair<std::string, std::size_t> AtRuleName(std::string_view prelude) {
  std::size_t at = 0;
  while (at < prelude.size()) {
    const std::size_t skipped = SkipCommentOrString(prelude, at);
    if (skipped != at)
      at = skipped;
    else if (textutil::IsHtmlSpace(prelude[at]))
      ++at;
    else
      break;
  }
  if (at >= prelude.size() || prelude[at] != '@')
    return {std::string(), kNone};
  std::size_t end = at + 1;
  while (end < prelude.size() && IsNameChar(prelude[end]))
    ++end;
  return {textutil::Lower(prelude.substr(at + 1, end - at - 1)), at};
}

// "@import" of a flow: the flow's text in place (inside the import's media
// list when it has one); any other import stays.
std::string RewriteImport(std::string_view statement, std::size_t at, Context &context, int depth) {
  std::string_view rest = textutil::Trimmed(statement.substr(at + 7));
  std::string address;
  std::size_t consumed = 0;
  if (const std::optional<Url> url = UrlAt(rest, 0)) {
    address = url->address;
    consumed = url->end;
  } else if (!rest.empty() && (rest[0] == '"' || rest[0] == '\'')) {
    consumed = SkipCommentOrString(rest, 0);
    address = std::string(rest.substr(1, consumed >= 2 ? consumed - 2 : 0));
  }
  if (!address.starts_with("kindle:"))
    return RewriteUrls(statement, context, depth) + ";";
  const std::optional<KindleAddress> flow = ParseKindleAddress(address);
  const std::optional<std::string> media = RewriteMediaList(rest.substr(consumed));
  if (!flow || flow->kind != KindleAddress::Kind::Flow || !media)
    return std::string();
  std::optional<std::string> text = ImportedFlow(flow->number, context, depth);
  if (!text)
    return std::string();
  return media->empty() ? *text : "@media " + *media + " {" + *text + "}";
}

std::string RewriteBlockRule(std::string_view prelude, std::string_view body, Context &context,
                             int depth) {
  const auto [name, at] = AtRuleName(prelude);
  const std::string rewrittenPrelude = RewriteUrls(prelude, context, depth);
  if (depth >= kMaxNesting)
    return rewrittenPrelude + "{" + RewriteUrls(body, context, depth) + "}";
  if (name == "media") {
    const std::optional<std::string> media = RewriteMediaList(prelude.substr(at + 6));
    if (!media)
      return std::string();
    return std::string(prelude.substr(0, at)) + "@media " + *media + " {" +
           RewriteRules(body, context, depth + 1) + "}";
  }
  if (name == "supports" || name == "document" || name == "-moz-document" || name == "layer" ||
      name == "container")
    return rewrittenPrelude + "{" + RewriteRules(body, context, depth + 1) + "}";
  if (name == "font-face")
    return rewrittenPrelude + "{" + RewriteFontFace(body, context, depth) + "}";
  return rewrittenPrelude + "{" + RewriteUrls(body, context, depth) + "}";
}

std::string RewriteRules(std::string_view css, Context &context, int depth) {
  std::string out;
  out.reserve(css.size());
  std::size_t i = 0;
  while (i < css.size()) {
    const std::size_t stop = FindAtTopLevel(css, i, "{;}");
    if (stop == kNone) {
      out += RewriteUrls(css.substr(i), context, depth);
      break;
    }
    const std::string_view prelude = css.substr(i, stop - i);
    if (css[stop] != '{') {
      const auto [name, at] = AtRuleName(prelude);
      if (css[stop] == ';' && name == "import")
        out += RewriteImport(prelude, at, context, depth);
      else
        out += RewriteUrls(prelude, context, depth) + css[stop];
      i = stop + 1;
      continue;
    }
    const std::size_t end = BlockEnd(css, stop);
    out += RewriteBlockRule(prelude, css.substr(stop + 1, std::min(end, css.size()) - stop - 1),
                            context, depth);
    i = end < css.size() ? end + 1 : css.size();
  }
  return out;
}

} // namespace

std::string RewriteStyleSheet(std::string_view css, const Kf8Resources &resources,
                              const FlowText &flows) {
  Context context{resources, flows, '"', {}, 0};
  return RewriteRules(css, context, 0);
}

std::string RewriteStyleAttribute(std::string_view declarations, const Kf8Resources &resources,
                                  const FlowText &flows) {
  Context context{resources, flows, '\'', {}, 0};
  return RewriteUrls(declarations, context, 0);
}
