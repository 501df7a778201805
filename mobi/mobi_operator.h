// One open book: its bytes, its container header and record 0, and the
// unpacking steps that turn it into an HTML file and a folder of images.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "container/book_records.h"
#include "container/book_sections.h"
#include "decoding/huff_decompressor.h"
#include "container/exth_header.h"
#include "container/pdb_reader.h"
#include "tarn_tool.h"
#include "decoding/text_record.h"
#include "container/mobi_header.h"

class MobiOperator {
public:
  MobiOperator() = default;
  ~MobiOperator();
  MobiOperator(const MobiOperator &) = delete;
  MobiOperator &operator=(const MobiOperator &) = delete;

  // Reads the whole book into memory. 0 opened and identified, 1 not opened,
  // 3 out of memory, 4 not BOOKMOBI.
  int Init(const char *path);
  // Releases the file and every owned object; safe to call again.
  void Destroy();

  // The length of record `index` as the record list gives it: the distance
  // to the next offset (32-bit, wrapping), or 0x0FFFFFFF - offset for the
  // last record; 0 for an index past the list. The steps read records
  // through Records(), whose views never leave the file.
  std::uint32_t LoadSection(std::uint32_t index) const;

  // Writes the HTML file at `htmlPath` and the images beside it; returns the
  // first failing step's code (library result codes).
  int UnpackBook(const char *htmlPath);
  // Takes the output folder and the stem of the HTML file's name from
  // `htmlPath`: 0, or 5 when the folder does not exist.
  int SetOutputPath(const char *htmlPath);

  const std::optional<std::string> &GetTitle() const;
  const std::optional<std::string> &GetAuthor() const;
  const std::string &GetCoverImageName() const;
  // The book's fact `name` (see BookFacts) as UTF-8; none when it has none.
  std::optional<std::string> GetFact(std::string_view name) const;
  bool IsOpen() const { return record0 != nullptr; }

  // Unpacking steps, run in this order by UnpackBook.
  int ProcessZeroRecord();
  int ProcessMetaInfo();
  // The KF8 rendition in place of the next two steps, when the book has one.
  int ProcessKf8Rendition(const std::string &path);
  int ProcessTextRecord(const char *path);
  int ProcessImageRecord();
  // Sets the fact "cover-copies": `names`, joined by newlines.
  void NoteCoverCopies(const std::vector<std::string> &names);
  // Writes picture record `index` of the MOBI6 section into the image folder:
  // 0 and `name` set to its entry for the HTML; kNoImage when the record is
  // no picture; 14 when its file cannot be written.
  static constexpr int kNoImage = 1;
  int GenImage(std::int32_t index, std::string &name);

  // What the steps found, for callers that look closer (read-only).
  const BookRecords &Records() const { return *records; }
  const PdbRecord0 &Record0() const { return *record0; }
  const std::vector<std::string> &ImageNames() const { return imageNames; }

private:
  // The section whose text the steps read: MOBI6, or KF8 in a KF8-only book.
  const BookSection &TextSection() const;

  FILES *file = nullptr;
  std::unique_ptr<PdbHeader> header;
  std::unique_ptr<HuffDecompressor> huff;
  std::string outputFolder;
  std::string bookStem;
  std::unique_ptr<PdbRecord0> record0;
  std::vector<std::string> imageNames;
  std::unique_ptr<BookRecords> records;
  BookSections sections;
  TextLayout textLayout;
  bool dictionary = false;
  BookFacts facts;
  std::optional<std::uint32_t> exthStart; // EXTH 116 of the text section's header
  std::optional<std::uint32_t> coverRecord; // the MOBI6 cover picture's record
};
