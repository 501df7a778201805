// The links of a KF8 book in one merged document: every position a link, the
// contents or the guide points at gets an anchor on its exact tag, every id is
// made unique per part, and every kindle: address is replaced.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "index/book_index.h"
#include "kf8/kf8_flows.h"
#include "kf8/kf8_parts.h"
#include "kf8/kf8_resources.h"
#include "kf8/kf8_styles.h"

// The texts of the flows other than flow 0, by flow number, for the style
// rewriting.
FlowText Kf8FlowTexts(const std::vector<Flow> &flows);

// The assembled flow-0 position of fragment row `fid` plus `offset`, or
// nothing when the fragment table has no such row.
std::optional<std::uint64_t> FragmentPosition(const std::vector<FragmentEntry> &fragments,
                                              std::uint32_t fid, std::uint32_t offset);
// The same for a "kindle:pos:fid:FFFF:off:OOOOOOOOOO" address.
std::optional<std::uint64_t> LinkPosition(const std::vector<FragmentEntry> &fragments,
                                          std::string_view address);

// Where a contents entry points: its fragment and offset, else its position.
std::optional<std::uint64_t> ContentsPosition(const NcxEntry &entry,
                                              const std::vector<FragmentEntry> &fragments);

// Where a part's body content lies: after its <body> tag, before its
// </body> (the whole part when it has neither).
struct PartBody {
  std::size_t start = 0;
  std::size_t end = 0;
  std::string_view tag; // the <body ...> tag; empty when there is none
};
PartBody FindBody(std::string_view part);

// The id of part `index`'s top: its wrapper element.
std::string PartTopId(std::size_t index, const PartBody &body);

// An anchor the writer adds to a part's text.
struct Kf8Anchor {
  std::size_t place = 0; // byte offset in the part's text
  bool onTag = false;    // true: give the start tag at `place` this id; false: insert an element
  std::string id;
};

// Every anchor of a book's parts and the id each target position resolved to.
class Kf8Anchors {
public:
  // Resolves `positions` (assembled flow-0 positions, any order, repeats
  // allowed) against `parts`. A position past every part resolves to nothing.
  Kf8Anchors(std::span<const Kf8Part> parts, std::span<const PartBody> bodies,
             std::vector<std::uint64_t> positions);

  // The id the target at `position` carries, or null when it has none.
  const std::string *IdOf(std::uint64_t position) const;
  // The anchors to add to part `part`, by place.
  std::span<const Kf8Anchor> AnchorsOf(std::size_t part) const { return anchors_[part]; }
  // True when part `part` holds an element with id `id` (as the book wrote it).
  bool HasId(std::size_t part, std::string_view id) const;

private:
  void ResolvePart(std::size_t index, const Kf8Part &part, const PartBody &body,
                   std::vector<std::pair<std::size_t, std::uint64_t>> &targets);
  void Place(std::size_t part, std::uint64_t position, std::size_t place, bool onTag,
             std::string existingId);

  std::vector<std::vector<Kf8Anchor>> anchors_;
  std::vector<std::unordered_set<std::string>> ids_;
  std::unordered_map<std::uint64_t, std::string> idOf_;
};

// What the rewriting of a part's markup consults.
struct Kf8LinkContext {
  const std::vector<FragmentEntry> &fragments;
  const std::vector<Flow> &flows;
  const Kf8Resources &resources;
  const Kf8Anchors &anchors;
};

// Appends part `index`'s body content to `out`: its anchors in place, every
// id prefixed "pN-", links to anchors, resource names for kindle:embed, SVG
// flows inlined for kindle:flow pictures, aid attributes gone, Amazon page
// breaks as CSS. `budget` caps the bytes of inlined flows.
void WritePartBody(std::string_view part, std::size_t index, const PartBody &body,
                   const Kf8LinkContext &context, std::size_t &budget, std::string &out);
