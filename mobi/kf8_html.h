// The KF8 rendition written as one HTML document: the book's styles in one
// head, every part's body in spine order, each after the first on a new page,
// and the book's contents at the end.
#pragma once

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "book_index.h"
#include "kf8_flows.h"
#include "kf8_parts.h"

struct Kf8Document {
  std::span<const Kf8Part> parts;
  const std::vector<Flow> &flows;
  const std::vector<FragmentEntry> &fragments;
  const std::vector<NcxEntry> &contents;
  const std::vector<GuideEntry> &guide;
  std::optional<std::uint32_t> startPosition; // EXTH 116: a raw flow-0 position
  std::string title;                          // UTF-8
  // The file name of resource number N at entry N (entry 0 unused).
  const std::vector<std::string> &resourceNames;
  // Rewrites a style sheet (resource addresses, media blocks) for the renderer.
  std::function<std::string(std::string_view)> rewriteStyles;
  bool windows1252 = false; // the book declares Windows-1252 text
};

// Writes the document to `out`, part by part. False on a short write.
bool WriteKf8Html(std::FILE *out, const Kf8Document &document);

// A contents entry ready to be written: its label and the id it points at
// (null when its target resolved to nothing).
struct ContentsItem {
  std::string_view label;
  const std::string *id = nullptr;
};

// The contents as a hidden <nav> list nested by the entries' parents, in book
// order: `items[i]` belongs to `entries[i]`.
std::string ContentsNav(const std::vector<NcxEntry> &entries, const std::vector<ContentsItem> &items);
