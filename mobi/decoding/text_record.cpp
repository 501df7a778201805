#include "decoding/text_record.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <span>
#include <string_view>
#include <vector>

#include "decoding/bit_reader.h"
#include "index/book_contents.h"
#include "common/c_file.h"
#include "decoding/doc_decompressor.h"
#include "tarn_mobi.h"

namespace {

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>";
// Far beyond any real book; keeps every later size inside an int and a
// decompression bomb from eating the machine.
constexpr std::size_t kMaxBookText = std::size_t{512} << 20;
// Below that, the text may be a few times the book and no more: PalmDOC at
// most quintuples its records, real HUFF/CDIC books hold less text than file.
// The constant leaves room for a small book of very repetitive text.
constexpr std::uint64_t kTextPerBookByte = 8;
constexpr std::uint64_t kTextAnyBook = std::uint64_t{16} << 20;
// Text records follow one another in a sound book, so together they read at
// most the file. A damaged record list can point many records at the same
// bytes; reading stops at twice the file, keeping the work in proportion.
constexpr std::uint64_t kReadPerBookByte = 2;
// A stored text record is never more than a few times its text (PalmDOC at
// most doubles it); reading no further keeps a bogus record length cheap.
constexpr std::uint32_t kStoredRecordFactor = 8;

std::span<const std::uint8_t> WithoutTrailingEntries(std::span<const std::uint8_t> record,
                                                     std::uint32_t extraDataFlags) {
  const std::uint32_t trailing = SizeOfTrailingEntries(record, extraDataFlags);
  return trailing >= record.size() ? record.first(0) : record.first(record.size() - trailing);
}

// A stored record's text: at most `outSize` bytes, less one final 0x00.
std::uint32_t CopyStoredText(std::span<const std::uint8_t> stored, char *out,
                             std::uint32_t outSize) {
  std::uint32_t n = static_cast<std::uint32_t>(std::min<std::size_t>(stored.size(), outSize));
  std::memcpy(out, stored.data(), n);
  if (n > 0 && out[n - 1] == '\0')
    --n;
  return n;
}

// Whether record `next` starts right where record `index` ends in the file.
bool Adjacent(const BookRecords &records, std::uint32_t index, std::uint32_t next) {
  const ByteReader a = records.Record(index), b = records.Record(next);
  return b.Size() > 0 && a.Bytes().data() + a.Size() == b.Bytes().data();
}

// The decoder over the HUFF record at `first` and the CDIC records behind it.
// The dictionary is read only when its records lie in order inside the file;
// otherwise the decoder starts failed and every text record comes out empty.
std::unique_ptr<HuffDecompressor> MakeHuffDecompressor(const BookRecords &records,
                                                       std::uint32_t first, std::uint32_t count,
                                                       std::uint32_t extraDataFlags) {
  const std::uint32_t last = first + count;
  bool usable = true;
  for (std::uint32_t i = first + 1; usable && i < last; ++i)
    usable = Adjacent(records, i, i + 1);
  std::vector<std::vector<std::uint8_t>> dictionary;
  for (std::uint32_t i = first + 1; usable && i < last; ++i) {
    const auto bytes = records.Record(i).Bytes();
    dictionary.emplace_back(bytes.begin(), bytes.end());
  }
  return std::make_unique<HuffDecompressor>(records.Record(first).Bytes(), std::move(dictionary),
                                            extraDataFlags);
}

} // namespace

int PrepareSectionText(const BookRecords &records, const BookSection &section,
                       const MobiHeader &header, SectionText &text) {
  text.layout =
      TextLayout{section.FirstTextRecord(), section.TextRecordCount(header.textRecordCount),
                 header.textRecordSize, header.compression, header.extraDataFlags};
  text.huff.reset();
  if (int result = CheckTextFields(header))
    return result;
  if (header.compression != MobiHeader::kHuffCdic)
    return MOBI_OK;
  // The record after the last CDIC record must lie inside the section too.
  const auto first = section.Record(header.huffRecordIndex);
  if (!first || header.huffRecordCount < 2 ||
      !section.Record(static_cast<std::uint32_t>(
          std::min<std::uint64_t>(std::uint64_t{header.huffRecordIndex} + header.huffRecordCount,
                                  kNullIndex))))
    return MOBI_ERR_ENCRYPTED;
  text.huff = MakeHuffDecompressor(records, *first, header.huffRecordCount, header.extraDataFlags);
  // A dictionary the decoder cannot use would turn every record into nothing.
  return text.huff->Error() ? MOBI_ERR_ENCRYPTED : MOBI_OK;
}

int DecodeTextRecords(const BookRecords &records, const TextLayout &layout, HuffDecompressor *huff,
                      std::string &text) {
  const std::uint32_t outSize = layout.recordSize;
  const std::uint64_t fileSize = records.FileSize();
  const std::uint64_t maxText =
      std::min<std::uint64_t>(kMaxBookText, kTextPerBookByte * fileSize + kTextAnyBook);
  // One allocation for the text of any real book. Declared sizes alone can ask
  // for megabytes that a small damaged book never fills, and a memory checker
  // pays for every byte reserved; a repetitive small book grows past it.
  text.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(
      {std::uint64_t{layout.recordCount} * outSize, kTextPerBookByte * fileSize, maxText})));
  std::uint64_t readLeft = kReadPerBookByte * fileSize;
  // Each record decodes into one buffer of the declared record size, and only
  // what it decoded joins the text: a damaged book that declares large
  // records and stores small ones costs no more than the bytes it holds.
  std::vector<char> decoded(outSize);
  for (std::uint32_t i = 0; i < layout.recordCount && readLeft > 0; ++i) {
    const std::span<const std::uint8_t> whole = records.Record(layout.firstRecord + i).Bytes();
    const std::span<const std::uint8_t> record =
        whole.first(static_cast<std::size_t>(std::min<std::uint64_t>(
            {whole.size(), std::uint64_t{outSize} * kStoredRecordFactor, readLeft})));
    readLeft -= record.size();
    if (record.empty())
      continue;
    if (text.size() + outSize > maxText)
      return MOBI_ERR_TEXT_SIZE;
    char *out = decoded.data();
    std::uint32_t n = 0;
    switch (layout.compression) {
    case MobiHeader::kNoCompression:
      n = CopyStoredText(WithoutTrailingEntries(record, layout.extraDataFlags), out, outSize);
      break;
    case MobiHeader::kPalmDoc:
      n = DocDecompressor().Decompress(WithoutTrailingEntries(record, layout.extraDataFlags), out,
                                       outSize);
      break;
    case MobiHeader::kHuffCdic:
      n = huff ? huff->Decompress(record, out, outSize) : 0;
      break;
    default:
      return MOBI_ERR_COMPRESSION;
    }
    text.append(out, std::min(n, outSize));
  }
  // Once the HUFF/CDIC decoder fails, the rest of the text is lost.
  return huff != nullptr && huff->Error() ? MOBI_ERR_ENCRYPTED : MOBI_OK;
}

int DecodeSectionText(const BookRecords &records, const BookSection &section, std::string &text) {
  const auto header = ReadMobiHeader(records.Record(section.header));
  if (!header)
    return MOBI_ERR_DAMAGED;
  SectionText prepared;
  if (int result = PrepareSectionText(records, section, *header, prepared))
    return result;
  return DecodeTextRecords(records, prepared.layout, prepared.huff.get(), text);
}

int WriteBookHtml(const char *path, std::string &text, const std::vector<FileposAnchor> &anchors,
                  const HtmlOptions &options) {
  CFile out(std::fopen(path, "wb"));
  if (!out)
    return MOBI_ERR_OPEN;
  int result = MOBI_OK;
  const auto put = [&](std::string_view bytes) {
    if (result == MOBI_OK && std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size())
      result = MOBI_ERR_WRITE;
  };
  put(kXmlDeclaration);
  if (result == MOBI_OK) {
    InsertFileposAnchors(text, anchors);
    HtmlPieceWriter writer(out.get(), options.windows1252);
    // The list is a piece of its own: it is UTF-8 already, whatever the book's code.
    const std::string_view html = text;
    const std::size_t listAt = options.contents.empty() ? html.size() : ContentsPlace(html);
    if (!WriteWithFileposLinks(html.substr(0, listAt), writer) ||
        !writer.WritePiece(options.contents) || !WriteWithFileposLinks(html.substr(listAt), writer))
      result = MOBI_ERR_WRITE;
  }
  std::string().swap(text);
  if (std::fclose(out.release()) != 0 && result == MOBI_OK)
    result = MOBI_ERR_WRITE;
  return result;
}
