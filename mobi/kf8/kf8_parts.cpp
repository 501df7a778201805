#include "kf8/kf8_parts.h"

#include <algorithm>
#include <unordered_map>

#include "kf8/kf8_markup.h"
#include "markup/markup_tags.h"
#include "common/text_util.h"

namespace {

// One part under construction. Fragments arrive in table order and never go
// before the one inserted last, so the part grows by appending: the bytes
// written so far, then the skeleton's bytes not yet copied.
class PartBuilder {
public:
  PartBuilder(std::string_view skeleton, std::size_t fragmentBytes) : skeleton_(skeleton) {
    text_.reserve(skeleton.size() + fragmentBytes);
  }

  std::size_t Size() const { return text_.size() + (skeleton_.size() - copied_); }

  // True when position `at` lies inside a tag: the nearest bracket before it
  // opens a tag, or the nearest one after it closes one.
  bool InsideTag(std::size_t at) {
    CopySkeletonTo(at);
    if (lastBracket_ == '<')
      return true;
    if (nextBracket_ < copied_ || nextBracket_ == std::string_view::npos)
      nextBracket_ = FindAngleBracket(skeleton_, copied_);
    return nextBracket_ != std::string_view::npos && skeleton_[nextBracket_] == '>';
  }

  // Inserts `bytes` at `at`, taken no lower than the end of the last insert.
  void Insert(std::size_t at, std::string_view bytes) {
    CopySkeletonTo(at);
    Append(bytes);
  }

  // Where, in the finished part, the skeleton tag whose aid is `aid` ends
  // (one past its ">"), if the fragments so far all went before it.
  std::optional<std::size_t> EndOfTagWithAid(std::string_view aid, std::size_t insertedBefore) {
    if (!aidsIndexed_)
      IndexAids();
    const auto found = aidEnds_.find(aid);
    if (found == aidEnds_.end())
      return std::nullopt;
    return found->second + insertedBefore;
  }

  std::string Finish() {
    CopySkeletonTo(Size());
    return std::move(text_);
  }

private:
  void CopySkeletonTo(std::size_t at) {
    if (at <= text_.size())
      return;
    const std::size_t count = std::min(at - text_.size(), skeleton_.size() - copied_);
    Append(skeleton_.substr(copied_, count));
    copied_ += count;
  }

  void Append(std::string_view bytes) {
    const std::size_t bracket = bytes.find_last_of("<>");
    if (bracket != std::string_view::npos)
      lastBracket_ = bytes[bracket];
    text_.append(bytes);
  }

  void IndexAids() {
    aidsIndexed_ = true;
    ForEachClosedTag(skeleton_, [&](std::string_view tag) {
      const std::string_view aid = textutil::Attribute(tag, "aid").value_or("");
      if (!aid.empty())
        aidEnds_.emplace(aid, static_cast<std::size_t>(tag.data() + tag.size() - skeleton_.data()));
    });
  }

  std::string_view skeleton_;
  std::size_t copied_ = 0;
  std::string text_;
  char lastBracket_ = 0;
  std::size_t nextBracket_ = std::string_view::npos;
  bool aidsIndexed_ = false;
  std::unordered_map<std::string_view, std::size_t> aidEnds_;
};

// The fragment bytes of one skeleton: the sum of its fragments' lengths,
// stopping at the end of the fragment table.
std::size_t FragmentBytes(const std::vector<FragmentEntry> &fragments, std::size_t first,
                          std::size_t count) {
  std::size_t bytes = 0;
  for (std::size_t i = first; i < first + count && i < fragments.size(); ++i)
    bytes += fragments[i].length;
  return bytes;
}

} // namespace

std::string_view SelectorAid(std::string_view selector) {
  constexpr std::string_view kOpen = "@aid='";
  const std::size_t open = selector.find(kOpen);
  if (open == std::string_view::npos)
    return {};
  const std::size_t first = open + kOpen.size();
  const std::size_t close = selector.find('\'', first);
  return close == std::string_view::npos ? std::string_view{}
                                         : selector.substr(first, close - first);
}

std::optional<std::vector<Kf8Part>> AssembleParts(std::string_view flow0,
                                                  const std::vector<SkeletonEntry> &skeletons,
                                                  const std::vector<FragmentEntry> &fragments) {
  std::vector<Kf8Part> parts;
  parts.reserve(skeletons.size());
  std::size_t next = 0; // the next fragment row
  for (const SkeletonEntry &skeleton : skeletons) {
    if (skeleton.start > flow0.size() || skeleton.length > flow0.size() - skeleton.start ||
        skeleton.fragmentCount > fragments.size() - next)
      return std::nullopt;
    PartBuilder part(flow0.substr(skeleton.start, skeleton.length),
                     FragmentBytes(fragments, next, skeleton.fragmentCount));
    // The fragments' bytes follow the skeleton in flow 0, one after another.
    std::size_t source = std::size_t{skeleton.start} + skeleton.length;
    std::size_t inserted = 0;
    for (std::uint32_t k = 0; k < skeleton.fragmentCount; ++k) {
      const FragmentEntry &fragment = fragments[next++];
      const std::size_t length = std::min<std::size_t>(fragment.length, flow0.size() - source);
      const std::string_view bytes = flow0.substr(source, length);
      source += length;
      std::size_t at =
          fragment.insertPosition < skeleton.start
              ? 0
              : std::min<std::size_t>(fragment.insertPosition - skeleton.start, part.Size());
      if (part.InsideTag(at)) {
        const std::string_view aid = SelectorAid(fragment.selector);
        if (const auto end = aid.empty() ? std::nullopt : part.EndOfTagWithAid(aid, inserted))
          at = std::min(*end, part.Size());
      }
      part.Insert(at, bytes);
      inserted += length;
    }
    parts.push_back({part.Finish(), skeleton.start});
  }
  return parts;
}
