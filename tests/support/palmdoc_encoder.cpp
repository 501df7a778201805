#include "palmdoc_encoder.h"

#include <vector>

namespace testbook {
namespace {

constexpr std::size_t kMaxDistance = 2047;
constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kMaxMatch = 10;
constexpr std::size_t kMaxRun = 8;
constexpr std::size_t kMaxChain = 256;

bool NeedsRun(std::uint8_t byte) { return (byte >= 0x01 && byte <= 0x08) || byte >= 0x80; }

struct Match {
  std::size_t distance = 0;
  std::size_t length = 0;
};

// Earlier positions that start with the same three bytes, newest first.
class MatchFinder {
public:
  explicit MatchFinder(std::string_view text) : text_(text), previous_(text.size(), kNone) {}

  Match Longest(std::size_t at) const {
    Match best;
    if (at + kMinMatch > text_.size())
      return best;
    std::size_t candidate = heads_[Hash(at)];
    for (std::size_t steps = 0; candidate != kNone && steps < kMaxChain; ++steps) {
      if (at - candidate > kMaxDistance)
        break;
      std::size_t length = 0;
      while (length < kMaxMatch && at + length < text_.size() &&
             text_[candidate + length] == text_[at + length])
        ++length;
      if (length > best.length)
        best = {at - candidate, length};
      candidate = previous_[candidate];
    }
    return best.length >= kMinMatch ? best : Match{};
  }

  void Insert(std::size_t at) {
    if (at + kMinMatch > text_.size())
      return;
    std::size_t &head = heads_[Hash(at)];
    previous_[at] = head;
    head = at;
  }

private:
  static constexpr std::size_t kNone = SIZE_MAX;
  std::size_t Hash(std::size_t at) const {
    const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text_[at + i]); };
    return (byte(0) << 10 ^ byte(1) << 5 ^ byte(2)) & (kHeads - 1);
  }
  static constexpr std::size_t kHeads = 1 << 15;

  std::string_view text_;
  std::vector<std::size_t> previous_;
  std::vector<std::size_t> heads_ = std::vector<std::size_t>(kHeads, kNone);
};

} // namespace

Bytes PalmDocEncode(std::string_view text) {
  Bytes out;
  MatchFinder finder(text);
  std::size_t at = 0;
  const auto byteAt = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  while (at < text.size()) {
    const Match match = finder.Longest(at);
    if (match.length > 0) {
      const auto word =
          static_cast<std::uint16_t>(0x8000 | match.distance << 3 | (match.length - kMinMatch));
      AppendU16BE(out, word);
      for (std::size_t end = at + match.length; at < end; ++at)
        finder.Insert(at);
    } else if (byteAt(at) == ' ' && at + 1 < text.size() && byteAt(at + 1) >= 0x40 &&
               byteAt(at + 1) <= 0x7F) {
      out.push_back(byteAt(at + 1) ^ 0x80);
      finder.Insert(at);
      finder.Insert(at + 1);
      at += 2;
    } else if (!NeedsRun(byteAt(at))) {
      out.push_back(byteAt(at));
      finder.Insert(at++);
    } else {
      // Gather the bytes that cannot stand alone, up to the next repeat.
      std::size_t end = at + 1;
      while (end < text.size() && end - at < kMaxRun && NeedsRun(byteAt(end)) &&
             finder.Longest(end).length == 0)
        ++end;
      out.push_back(static_cast<std::uint8_t>(end - at));
      for (; at < end; ++at) {
        out.push_back(byteAt(at));
        finder.Insert(at);
      }
    }
  }
  return out;
}

} // namespace testbook
