// Text records: decoding a section's text, and writing the MOBI6 text as the
// book's HTML file with its filepos anchors and links.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "container/book_records.h"
#include "container/book_sections.h"
#include "mobi6/filepos_links.h"
#include "decoding/huff_decompressor.h"
#include "container/mobi_header.h"

// Where a section's text records lie and how they are stored.
struct TextLayout {
  std::uint32_t firstRecord = 1;
  std::uint32_t recordCount = 0; // only records inside the section
  std::uint16_t recordSize = 4096;
  std::uint16_t compression = 0;
  std::uint32_t extraDataFlags = 0;
};

// A section's text as its header record describes it, ready to decode.
struct SectionText {
  TextLayout layout;
  std::unique_ptr<HuffDecompressor> huff; // for HUFF/CDIC text only
};

// Checks the header of `section` and builds its decoder: 0, or 7 (unknown
// compression), 8 (text record size 0), 9 (encrypted, a HUFF/CDIC range
// that is not inside the section with a record after it, or HUFF/CDIC
// records the decoder cannot use).
int PrepareSectionText(const BookRecords &records, const BookSection &section,
                       const MobiHeader &header, SectionText &text);

// Decodes the text records of `layout` into `text`, each record's trailing
// entries removed: 0, 7 for an unknown compression, 15 for a text far larger
// than the book could hold, 9 when the HUFF/CDIC decoder failed on the way.
// `huff` is needed for HUFF/CDIC text only.
int DecodeTextRecords(const BookRecords &records, const TextLayout &layout, HuffDecompressor *huff,
                      std::string &text);

// The whole text of `section` (the MOBI6 or the KF8 one), from its header
// record: 0, 11 when the header record is too short, or the codes above.
int DecodeSectionText(const BookRecords &records, const BookSection &section, std::string &text);

struct HtmlOptions {
  bool windows1252 = false; // the book declares Windows-1252 text
  std::string contents;     // the book's contents list, written before </body>
};

// Writes the MOBI6 HTML file at `path`: the XML declaration, then `text`
// with an anchor at every entry of `anchors` (sorted by position), the plain
// filepos links turned into fragment links and the contents list in place.
// `text` is consumed. 0, 1 when the file cannot be created, 2 on a short write.
int WriteBookHtml(const char *path, std::string &text, const std::vector<FileposAnchor> &anchors,
                  const HtmlOptions &options);
