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

#include "index/book_index.h"
#include "container/book_records.h"
#include "container/book_sections.h"
#include "common/byte_reader.h"
#include "kf8/kf8_flows.h"
#include "kf8/kf8_parts.h"
#include "kf8/kf8_resources.h"

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
  // The reading start: the guide's, else EXTH 116, when it lies in flow 0.
  std::optional<std::uint64_t> startPosition;
};

// The rendition whose header is `records[kf8Header]`, from its decoded `text`.
// Null when the section cannot be read: no usable skeleton table, a
// fragment table missing or not fitting the text, several flows and no usable
// FDST record. A damaged contents or guide index only leaves them empty.
std::unique_ptr<Kf8Text> ReadKf8Text(std::span<const ByteReader> records, std::uint32_t kf8Header,
                                   std::string text);

// Where and under which names the rendition is written.
struct Kf8Output {
  std::string htmlPath;
  std::string resourceFolder; // ends in "/"
  std::string bookStem;
  std::string title; // UTF-8; empty for none
};

// What unpacking found out for the caller: the cover's file name and the id
// of the element where reading starts, each empty when the book has none.
struct Kf8Unpacked {
  std::string coverName;
  std::vector<std::string> coverCopies; // see Kf8Resources
  std::string startId;
};

// Unpacks the KF8 section of `sections` into the HTML file and its resource
// folder, and fills `unpacked`. Result:
// 0; the text decoder's code (7, 8, 9, 11, 15) or MOBI_ERR_KF8 when the
// section cannot be read, in which case nothing has been written; 14 when a
// resource file cannot be written; 1 or 2 when the HTML file cannot be
// created or written.
int UnpackKf8Rendition(const BookRecords &records, const BookSections &sections,
                       const Kf8Output &output, Kf8Unpacked &unpacked);
