// KF8 flow 0 built for tests from parts given as skeletons and fragments.
#pragma once

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "index/book_index.h"

namespace testbook {

// Flow 0 made from parts given as a skeleton and its fragments, each fragment
// meant to go at an offset of the bare skeleton.
struct Kf8FlowBuilder {
  std::string flow0;
  std::vector<SkeletonEntry> skeletons;
  std::vector<FragmentEntry> fragments;
  std::vector<std::string> assembled;

  void Add(const std::string &skeleton,
           const std::vector<std::pair<std::size_t, std::string>> &pieces) {
    const auto start = static_cast<std::uint32_t>(flow0.size());
    skeletons.push_back({static_cast<std::uint32_t>(pieces.size()), start,
                         static_cast<std::uint32_t>(skeleton.size())});
    flow0 += skeleton;
    std::string part = skeleton;
    std::uint32_t before = 0;
    for (const auto &[offset, text] : pieces) {
      fragments.push_back({start + static_cast<std::uint32_t>(offset) + before, "P-//*[@aid='0']",
                           static_cast<std::uint32_t>(skeletons.size() - 1),
                           static_cast<std::uint32_t>(fragments.size()), before,
                           static_cast<std::uint32_t>(text.size())});
      part.insert(offset + before, text);
      before += static_cast<std::uint32_t>(text.size());
      flow0 += text;
    }
    assembled.push_back(part);
  }

  // A link address to fill in later with FillLinks: target `k`.
  static std::string Placeholder(char k) {
    return "kindle:pos:fid:ZZZZ:off:ZZZZZZZZZ" + std::string(1, k);
  }

  // The assembled flow-0 position of the first `marker` in part `part`.
  std::uint32_t PositionOf(std::size_t part, const std::string &marker) const {
    return skeletons[part].start + static_cast<std::uint32_t>(assembled[part].find(marker));
  }

  // The fragment row `position` is reached from (the one inserted last before
  // it) and the offset from that fragment's insert position.
  std::pair<std::uint32_t, std::uint32_t> FidOffset(std::uint32_t position) const {
    // Insert positions grow in table order.
    const auto after = std::upper_bound(
        fragments.begin(), fragments.end(), position,
        [](std::uint32_t p, const FragmentEntry &f) { return p < f.insertPosition; });
    const std::size_t fid =
        after == fragments.begin() ? 0 : static_cast<std::size_t>(after - fragments.begin() - 1);
    return {static_cast<std::uint32_t>(fid), position - fragments[fid].insertPosition};
  }

  // The kindle:pos address of `position`.
  std::string PosAddress(std::uint32_t position) const {
    const auto [fid, offset] = FidOffset(position);
    return "kindle:pos:fid:" + Base32(fid, 4) + ":off:" + Base32(offset, 10);
  }

  // Replaces placeholder k ('0', '1', ...) by the address of targets[k].
  void FillLinks(const std::vector<std::uint32_t> &targets) {
    for (std::size_t k = 0; k < targets.size(); ++k) {
      const std::string placeholder = Placeholder(static_cast<char>('0' + k));
      const std::string address = PosAddress(targets[k]);
      for (std::string *text : TextsToFill())
        for (std::size_t at = text->find(placeholder); at != std::string::npos;
             at = text->find(placeholder))
          text->replace(at, placeholder.size(), address);
    }
  }

  // `value` in KF8's base 32, `width` digits.
  static std::string Base32(std::uint32_t value, std::size_t width) {
    std::string digits(width, '0');
    for (std::size_t i = width; i-- > 0; value /= 32)
      digits[i] = "0123456789ABCDEFGHIJKLMNOPQRSTUV"[value % 32];
    return digits;
  }

private:
  std::vector<std::string *> TextsToFill() {
    std::vector<std::string *> texts{&flow0};
    for (std::string &part : assembled)
      texts.push_back(&part);
    return texts;
  }
};

} // namespace testbook
