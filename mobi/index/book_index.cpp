#include "index/book_index.h"

#include <charconv>

#include "markup/html_entities.h"

namespace {

// NCX tags.
constexpr std::uint8_t kNcxPosition = 1;
constexpr std::uint8_t kNcxLabel = 3;
constexpr std::uint8_t kNcxDepth = 4;
constexpr std::uint8_t kNcxFragment = 6;
constexpr std::uint8_t kNcxParent = 21;
// Skeleton tags.
constexpr std::uint8_t kSkeletonFragmentCount = 1;
constexpr std::uint8_t kSkeletonRange = 6;
// Fragment tags.
constexpr std::uint8_t kFragmentSelector = 2;
constexpr std::uint8_t kFragmentFile = 3;
constexpr std::uint8_t kFragmentSequence = 4;
constexpr std::uint8_t kFragmentRange = 6;
// Guide tags.
constexpr std::uint8_t kGuideTitle = 1;
constexpr std::uint8_t kGuideFid = 3;
constexpr std::uint8_t kGuideTarget = 6;

// The first two values of `tag`, when it holds both.
std::optional<std::pair<std::uint32_t, std::uint32_t>> Pair(const IndexEntry &entry,
                                                            std::uint8_t tag) {
  const auto *values = entry.Tag(tag);
  if (values == nullptr || values->size() < 2)
    return std::nullopt;
  return std::pair((*values)[0], (*values)[1]);
}

std::optional<std::uint32_t> DecimalLabel(const std::string &label) {
  std::uint32_t value = 0;
  const auto [end, error] = std::from_chars(label.data(), label.data() + label.size(), value);
  if (label.empty() || error != std::errc() || end != label.data() + label.size())
    return std::nullopt;
  return value;
}

std::string CncxText(const IndexTable &table, const IndexEntry &entry, std::uint8_t tag) {
  const auto offset = entry.First(tag);
  return offset ? table.CncxString(*offset).value_or(std::string()) : std::string();
}

} // namespace

std::vector<NcxEntry> ReadNcx(const IndexTable &table) {
  // Every entry is kept, even one without a label or place: parents are
  // named by entry index.
  std::vector<NcxEntry> entries;
  entries.reserve(table.entries.size());
  for (const IndexEntry &entry : table.entries) {
    NcxEntry ncx;
    ncx.label = UnescapeHtmlEntities(CncxText(table, entry, kNcxLabel));
    ncx.depth = entry.First(kNcxDepth).value_or(0);
    ncx.parent = entry.First(kNcxParent);
    ncx.position = entry.First(kNcxPosition);
    if (const auto target = Pair(entry, kNcxFragment)) {
      ncx.fid = target->first;
      ncx.offset = target->second;
    }
    entries.push_back(std::move(ncx));
  }
  return entries;
}

std::vector<SkeletonEntry> ReadSkeletons(const IndexTable &table) {
  std::vector<SkeletonEntry> skeletons;
  for (const IndexEntry &entry : table.entries) {
    const auto count = entry.First(kSkeletonFragmentCount);
    const auto range = Pair(entry, kSkeletonRange);
    if (count && range)
      skeletons.push_back({*count, range->first, range->second});
  }
  return skeletons;
}

std::vector<FragmentEntry> ReadFragments(const IndexTable &table) {
  std::vector<FragmentEntry> fragments;
  for (const IndexEntry &entry : table.entries) {
    const auto insertPosition = DecimalLabel(entry.label);
    const auto file = entry.First(kFragmentFile);
    const auto sequence = entry.First(kFragmentSequence);
    const auto range = Pair(entry, kFragmentRange);
    if (!insertPosition || !file || !sequence || !range)
      continue;
    fragments.push_back({*insertPosition, CncxText(table, entry, kFragmentSelector), *file,
                         *sequence, range->first, range->second});
  }
  return fragments;
}

std::vector<GuideEntry> ReadGuide(const IndexTable &table) {
  std::vector<GuideEntry> guide;
  for (const IndexEntry &entry : table.entries) {
    GuideEntry reference;
    reference.type = table.Decode(entry.label);
    // The thumbnail is no place in the book.
    if (reference.type == "thumbimagestandard")
      continue;
    reference.title = UnescapeHtmlEntities(CncxText(table, entry, kGuideTitle));
    if (const auto target = Pair(entry, kGuideTarget)) {
      reference.fid = target->first;
      reference.offset = target->second;
    } else {
      reference.fid = entry.First(kGuideFid);
    }
    guide.push_back(std::move(reference));
  }
  return guide;
}
