// The resources of a KF8 rendition: which records they are, and the picture
// and font files written from them for the HTML file.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "container/book_sections.h"
#include "common/byte_reader.h"

// What the HTML and its styles may refer to. Names are relative to the HTML
// file's folder ("STEM_files/image_3.gif", "STEM_files/font_5.ttf").
struct Kf8Resources {
  // Entry 0: the cover's name, or empty. Entry N: the file written for
  // resource N ("kindle:embed:N"), or empty when it wrote none.
  std::vector<std::string> names{std::string()};
  // Entry N: the family named inside font resource N, or empty.
  std::vector<std::string> fontFamilies{std::string()};
  // The pictures written with the cover's bytes under other names.
  std::vector<std::string> coverCopies{};

  const std::string &Name(std::uint32_t number) const { return At(names, number); }
  const std::string &FontFamily(std::uint32_t number) const { return At(fontFamilies, number); }

private:
  static const std::string &At(const std::vector<std::string> &list, std::uint32_t number) {
    static const std::string none;
    return number < list.size() ? list[number] : none;
  }
};

// The resource records of the book's KF8 rendition, in resource-number
// order: entry N - 1 is "kindle:embed:N". Every record of the range has its
// slot, whatever it holds. A KF8-only book keeps them from its KF8 header's
// first resource record to the end of the file; a hybrid stores them in its
// MOBI6 half, from the MOBI6 header's first resource record to the boundary
// record, followed by the KF8 header's own range. Empty without a KF8 section.
std::vector<ByteReader> Kf8ResourceRecords(std::span<const ByteReader> records,
                                           const BookSections &sections);

// EXTH 201 of the KF8 header, else of record 0: the cover's index into the
// resource list; ExthFields::kNone when neither names one.
std::uint32_t Kf8CoverOffset(std::span<const ByteReader> records, const BookSections &sections);

// Writes the pictures ("image_N.EXT", as the MOBI6 picture walk names them)
// and the fonts ("font_N.ttf" or "font_N.otf") among `resources` into
// `folder` (the resource folder, ending in "/", created when missing); N is
// the resource number, and lists them in `written`. Names are `bookStem` +
// "_files/" + the file name. The cover is the picture resource `coverOffset`
// + 1, if one was written. 0, or 14 when a file cannot be written.
int WriteKf8Resources(std::span<const ByteReader> resources, const std::string &folder,
                      const std::string &bookStem, std::uint32_t coverOffset,
                      Kf8Resources &written);
