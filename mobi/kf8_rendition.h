// The KF8 rendition of a book: its text structures read from the section's
// header record, its indexes and its decoded text, and written as the one
// HTML document.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "book_index.h"
#include "byte_reader.h"
#include "kf8_flows.h"
#include "kf8_parts.h"
#include "kf8_resources.h"

// Held in place: its flows view into its own text.
struct Kf8Text {
  Kf8Text() = default;
  Kf8Text(const Kf8Text &) = delete;
  Kf8Text &operator=(const Kf8Text &) = delete;

  std::string text; // the section's decoded text; the flows view into it
  std::vector<Flow> flows;
  std::vector<Kf8Part> parts;
  std::vector<FragmentEntry> fragments;
  std::vector<NcxEntry> contents;
  std::vector<GuideEntry> guide;
};

// The rendition whose header is `records[kf8Header]`, from its decoded `text`.
// Null when the section cannot be read: no usable skeleton table, a
// fragment table missing or not fitting the text, several flows and no usable
// FDST record. A damaged contents or guide index only leaves them empty.
std::unique_ptr<Kf8Text> ReadKf8Text(std::span<const ByteReader> records, std::uint32_t kf8Header,
                                   std::string text);

// Writes the rendition as one HTML document. False on a short write.
bool WriteKf8Rendition(std::FILE *out, const Kf8Text &book, const Kf8Resources &resources,
                       const std::string &title, bool windows1252);
