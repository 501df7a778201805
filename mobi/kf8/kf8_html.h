// The KF8 rendition written as one HTML document: the book's styles in one
// head, every part's body in spine order, each after the first on a new page,
// and the book's contents at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "index/book_index.h"
#include "kf8/kf8_flows.h"
#include "kf8/kf8_parts.h"
#include "kf8/kf8_resources.h"

struct Kf8Document {
  std::span<const Kf8Part> parts;
  const std::vector<Flow> &flows;
  const std::vector<FragmentEntry> &fragments;
  const std::vector<NcxEntry> &contents;
  const std::vector<GuideEntry> &guide;
  std::optional<std::uint64_t> startPosition; // the reading start, a raw flow-0 position, to anchor
  std::string title;                          // UTF-8
  const Kf8Resources &resources;
  bool windows1252 = false; // the book declares Windows-1252 text
};

// Writes the document to `out`, part by part, and sets `startId` to the id of
// the anchor at the reading start (empty when there is none). False on a
// short write.
bool WriteKf8Html(std::FILE *out, const Kf8Document &document, std::string &startId);
