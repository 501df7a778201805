// Decodes a book's text records the way the text step does, for the decoder
// tests: trailing entries stripped, then the record's decoder, one record at a
// time into a space of textRecordSize bytes.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "bit_reader.h"
#include "byte_reader.h"
#include "doc_decompressor.h"
#include "mobi_operator.h"
#include "tarn_mobi.h"
#include "test_files.h"

namespace testbook {

inline std::string DecodeTextRecord(MobiOperator &book, std::uint32_t index) {
  const PdbRecord0 &record0 = *book.record0;
  const std::vector<std::uint8_t> record = book.ReadSection(index);
  std::string text(record0.textRecordSize, '\0');
  std::uint32_t length = 0;
  if (record0.compression == PdbRecord0::kHuffCdic) {
    length = book.huff->Decompress(record, text.data(), record0.textRecordSize);
  } else {
    const std::uint32_t trailing = SizeOfTrailingEntries(record, record0.extraDataFlags);
    const auto in =
        std::span(record).first(record.size() - std::min<std::size_t>(trailing, record.size()));
    if (record0.compression == PdbRecord0::kPalmDoc) {
      length = DocDecompressor().Decompress(in, text.data(), record0.textRecordSize);
    } else {
      length = static_cast<std::uint32_t>(std::min<std::size_t>(in.size(), record0.textRecordSize));
      std::copy_n(in.begin(), length, text.begin());
    }
  }
  text.resize(length);
  return text;
}

// The text of every text record; record 0 must have been processed.
inline std::vector<std::string> DecodeTextRecords(MobiOperator &book) {
  std::vector<std::string> texts;
  for (std::uint32_t i = 1; i <= book.record0->textRecordCount; ++i)
    texts.push_back(DecodeTextRecord(book, i));
  return texts;
}

inline std::string Join(const std::vector<std::string> &parts) {
  std::string joined;
  for (const std::string &part : parts)
    joined += part;
  return joined;
}

// Opens `path` and runs the record-0 step; false (with a failure) otherwise.
inline bool OpenBook(MobiOperator &book, const std::string &path) {
  const int opened = book.Init(path.c_str());
  EXPECT_EQ(opened, MOBI_OK) << path;
  if (opened != MOBI_OK)
    return false;
  const int processed = book.ProcessZeroRecord();
  EXPECT_EQ(processed, MOBI_OK) << path;
  return processed == MOBI_OK;
}

} // namespace testbook

namespace testbook {

inline bool IsStrayControl(unsigned char byte) {
  return (byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r') || byte == 0x7F;
}

// A good corpus book: every text record but the last fills textRecordSize
// (HUFF/CDIC books may end a record early, at an entry, and then the next one
// goes on from there), the text is as long as record 0 says, it starts as
// markup, and no record seam carries control bytes (left-over trailing entries
// or a lost byte).
inline void ExpectCorpusTextDecodes(const std::filesystem::path &path) {
  SCOPED_TRACE(path.filename().string());
  MobiOperator book;
  if (!OpenBook(book, path.string()))
    return;
  const std::vector<std::string> texts = DecodeTextRecords(book);
  ASSERT_FALSE(texts.empty());
  const bool huff = book.record0->compression == PdbRecord0::kHuffCdic;
  for (std::size_t i = 0; i + 1 < texts.size(); ++i) {
    if (huff)
      EXPECT_LE(texts[i].size(), book.record0->textRecordSize) << "text record " << i + 1;
    else
      EXPECT_EQ(texts[i].size(), book.record0->textRecordSize) << "text record " << i + 1;
  }
  const std::string text = Join(texts);
  const std::vector<std::uint8_t> record0 = book.ReadSection(0);
  EXPECT_EQ(text.size(), ByteReader(record0).U32BE(4).value_or(0));

  std::size_t start = text.rfind("\xEF\xBB\xBF", 0) == 0 ? 3 : 0;
  while (start < text.size() && std::isspace(static_cast<unsigned char>(text[start])))
    ++start;
  std::string head = text.substr(start, 5);
  std::transform(head.begin(), head.end(), head.begin(), [](char c) { return std::tolower(c); });
  EXPECT_EQ(head, "<html");

  std::size_t seam = 0;
  for (std::size_t i = 0; i + 1 < texts.size(); ++i) {
    seam += texts[i].size();
    for (std::size_t at = seam - std::min<std::size_t>(seam, 16);
         at < seam + 16 && at < text.size(); ++at)
      EXPECT_FALSE(IsStrayControl(static_cast<unsigned char>(text[at])))
          << "byte " << at << " near the seam after text record " << i + 1;
  }
}

// The good books of the corpus whose file name starts with `prefix`.
inline std::vector<std::filesystem::path> CorpusBooksStartingWith(const std::string &prefix) {
  std::vector<std::filesystem::path> chosen;
  for (const auto &book : CorpusBooks())
    if (book.filename().string().rfind(prefix, 0) == 0)
      chosen.push_back(book);
  return chosen;
}

} // namespace testbook
