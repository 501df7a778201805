// One open book: its file, its container header and record 0, and the
// unpacking steps that turn it into an HTML file and a folder of images.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "huff_decompressor.h"
#include "pdb_reader.h"
#include "tarn_tool.h"

// The record-0 fields later steps consult.
struct PdbRecord0 {
  static constexpr std::uint16_t kNoCompression = 1;
  static constexpr std::uint16_t kPalmDoc = 2;
  static constexpr std::uint16_t kHuffCdic = 17480;

  std::uint32_t firstImageRecord = 0;
  std::uint16_t textRecordCount = 0;
  std::uint16_t textRecordSize = 4096;
  std::uint16_t compression = 0;
  std::uint32_t headerValue40 = 0;
  std::uint32_t headerValue44 = 0;
  std::uint32_t textEncoding = 0;
  // Trailing-entry flags of the text records; 0 when the MOBI header is too
  // short to hold them.
  std::uint32_t extraDataFlags = 0;
  std::optional<std::string> title;
  std::optional<std::string> author;
};

class MobiOperator {
public:
  MobiOperator() = default;
  ~MobiOperator();
  MobiOperator(const MobiOperator &) = delete;
  MobiOperator &operator=(const MobiOperator &) = delete;

  // 0 opened and identified, 1 not opened, 3 out of memory, 4 not BOOKMOBI.
  int Init(const char *path);
  // Releases the file and every owned object; safe to call again.
  void Destroy();

  // Positions the file at record `index` and returns its length as the record
  // list gives it: the distance to the next offset (32-bit, wrapping), or
  // 0x0FFFFFFF - offset for the last record. 0 for an index past the list,
  // and then the file does not move.
  std::uint32_t LoadSection(std::uint32_t index);
  // The bytes of record `index`: at most `limit` of them, and never more than
  // the file holds from the record's start, so a bogus length never turns into
  // a read outside the file or an allocation larger than it.
  std::vector<std::uint8_t> ReadSection(std::uint32_t index, std::uint32_t limit = UINT32_MAX);
  std::uint32_t RecordCount() const;

  // Writes the HTML file at `htmlPath` and the images beside it; returns the
  // first failing step's code (library result codes).
  int UnpackBook(const char *htmlPath);

  const std::optional<std::string> &GetTitle() const;
  const std::optional<std::string> &GetAuthor() const;
  const std::string &GetCoverImageName() const;
  bool IsOpen() const { return record0 != nullptr; }

  // Unpacking steps, run in this order by UnpackBook.
  int ProcessZeroRecord();
  // The HUFF/CDIC decoder over the HUFF record `first` and the CDIC records up
  // to record first + count - 1; the record after them must exist.
  std::unique_ptr<HuffDecompressor> MakeHuffDecompressor(std::uint32_t first, std::uint32_t count);
  int ProcessMetaInfo();
  int ProcessTextRecord(const char *path);
  int ProcessImageRecord();
  // Writes record `index` into the image folder; 0 and `name` set to its
  // entry for the HTML, or 1 when nothing was written.
  int GenImage(std::int32_t index, std::string &name);
  // Decodes text records 1 to textRecordCount into `text`; 0, or 7 for an
  // unknown compression, 3 for a text too large to hold.
  int ReadBookText(std::string &text);

  FILES *file = nullptr;
  std::unique_ptr<PdbHeader> header;
  std::unique_ptr<HuffDecompressor> huff;
  std::string outputFolder;
  std::string bookStem;
  std::unique_ptr<PdbRecord0> record0;
  std::vector<std::string> imageNames;
  std::uint64_t fileSize = 0;
};
