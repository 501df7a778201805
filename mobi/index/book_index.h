// The book's own indexes, decoded from index tables into plain facts: the
// table of contents (NCX), and KF8's skeleton, fragment and guide tables.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "index/index_reader.h"

// One table-of-contents entry as the NCX stores it.
struct NcxEntry {
  std::string label;                       // UTF-8
  std::uint32_t depth = 0;                 // 0 = top level
  std::optional<std::uint32_t> parent;     // entry index of the parent
  std::optional<std::uint32_t> position;   // text position (tag 1)
  std::optional<std::uint32_t> fid;        // KF8: fragment row (tag 6, first value)
  std::optional<std::uint32_t> offset;     // KF8: offset from that fragment (tag 6, second value)
};

// One KF8 part (XHTML file): where its skeleton lies in flow 0.
struct SkeletonEntry {
  std::uint32_t fragmentCount = 0;
  std::uint32_t start = 0;
  std::uint32_t length = 0;
};

// One KF8 fragment, inserted into its part's skeleton.
struct FragmentEntry {
  std::uint32_t insertPosition = 0; // absolute, in assembled text
  std::string selector;             // e.g. "P-//*[@aid='0K']"; empty when absent
  std::uint32_t fileNumber = 0;     // skeleton index
  std::uint32_t sequence = 0;       // global fragment number
  std::uint32_t dataOffset = 0;     // offset in the part's fragment-data area
  std::uint32_t length = 0;
};

// One KF8 guide reference.
struct GuideEntry {
  std::string type;  // "toc", "text", "start", ...
  std::string title; // UTF-8
  std::optional<std::uint32_t> fid;
  std::optional<std::uint32_t> offset;
};

// Each decoder keeps the entries that check out and leaves the rest.
std::vector<NcxEntry> ReadNcx(const IndexTable &table);
std::vector<SkeletonEntry> ReadSkeletons(const IndexTable &table);
std::vector<FragmentEntry> ReadFragments(const IndexTable &table);
std::vector<GuideEntry> ReadGuide(const IndexTable &table);
