#include "index/book_contents.h"

#include <algorithm>

#include "markup/html_entities.h"
#include "markup/markup_tags.h"

namespace {

// Deeper levels are kept, but listed at this depth.
constexpr std::uint32_t kMaxDepth = 16;

bool IsTopLevel(const std::vector<NcxEntry> &ncx, std::size_t i) {
  const auto parent = ncx[i].parent;
  return !parent || *parent >= ncx.size() || *parent == i || ncx[*parent].depth >= ncx[i].depth;
}

} // namespace

std::vector<ContentsEntry> ContentsFromNcx(const std::vector<NcxEntry> &ncx,
                                           const ContentsTarget &target) {
  std::vector<std::vector<std::size_t>> children(ncx.size());
  std::vector<std::size_t> roots;
  for (std::size_t i = 0; i < ncx.size(); ++i)
    (IsTopLevel(ncx, i) ? roots : children[*ncx[i].parent]).push_back(i);

  // Depth first, without recursion: a damaged index may nest arbitrarily deep.
  // Each parent is strictly shallower than its children, so every entry is
  // reached exactly once.
  std::vector<ContentsEntry> entries;
  entries.reserve(ncx.size());
  std::vector<std::pair<std::size_t, std::uint32_t>> stack;
  for (auto root = roots.rbegin(); root != roots.rend(); ++root)
    stack.emplace_back(*root, 0);
  while (!stack.empty()) {
    const auto [index, depth] = stack.back();
    stack.pop_back();
    entries.push_back({ncx[index].label, std::min(depth, kMaxDepth), target(ncx[index])});
    for (auto child = children[index].rbegin(); child != children[index].rend(); ++child)
      stack.emplace_back(*child, depth + 1);
  }
  return entries;
}

std::string ContentsNav(const std::vector<ContentsEntry> &entries) {
  if (entries.empty())
    return {};
  std::string nav = "<nav id=\"" + std::string(kContentsNavId) + "\" style=\"display:none\"><ol>";
  std::uint32_t depth = 0;
  for (std::size_t i = 0; i < entries.size(); ++i) {
    // A list opens one level at a time, so a jump in depth still nests.
    const std::uint32_t wanted = i == 0 ? 0 : std::min(entries[i].depth, depth + 1);
    if (i > 0 && wanted > depth)
      nav += "<ol>";
    else if (i > 0)
      nav += "</li>";
    for (; depth > wanted; --depth)
      nav += "</ol></li>";
    depth = wanted;
    nav += "<li><a";
    if (!entries[i].target.empty())
      nav += " href=\"#" + EscapeHtml(entries[i].target) + "\"";
    nav += ">" + EscapeHtml(entries[i].label) + "</a>";
  }
  nav += "</li>";
  for (; depth > 0; --depth)
    nav += "</ol></li>";
  return nav + "</ol></nav>";
}

std::size_t ContentsPlace(std::string_view html) {
  constexpr std::string_view kBodyEnd = "</body";
  for (std::size_t at = html.rfind('<'); at != std::string_view::npos;
       at = at == 0 ? std::string_view::npos : html.rfind('<', at - 1)) {
    if (textutil::StartsWithNoCase(html.substr(at), kBodyEnd))
      return at;
  }
  return html.size();
}

std::vector<std::uint32_t> ContentsPositions(const std::vector<NcxEntry> &ncx) {
  std::vector<std::uint32_t> positions;
  for (const NcxEntry &entry : ncx)
    if (entry.position)
      positions.push_back(*entry.position);
  return positions;
}

std::vector<ContentsEntry> FileposContents(const std::vector<NcxEntry> &ncx) {
  return ContentsFromNcx(ncx, [](const NcxEntry &entry) {
    return entry.position ? "filepos" + std::to_string(*entry.position) : std::string();
  });
}
