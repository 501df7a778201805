// A book's text records decoded one at a time, for the decoder tests, and
// books held in memory for the tests of single units.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <vector>

#include "common/byte_reader.h"
#include "mobi_operator.h"
#include "container/pdb_reader.h"
#include "tarn_mobi.h"
#include "test_files.h"

namespace testbook {

// The section whose text the book's text step reads.
inline BookSection TextSection(const MobiOperator &book) {
  const BookSections sections = FindSections(book.Records());
  return sections.mobi6 ? *sections.mobi6 : *sections.kf8;
}

// The text of every text record, each decoded on its own by the library's
// decoder for the book (one HUFF/CDIC decoder for all of them).
inline std::vector<std::string> DecodeTextRecords(const MobiOperator &book) {
  const BookSection &section = TextSection(book);
  const auto header = ReadMobiHeader(book.Records().Record(section.header));
  SectionText prepared;
  std::vector<std::string> texts;
  if (!header || PrepareSectionText(book.Records(), section, *header, prepared) != MOBI_OK)
    return texts;
  for (std::uint32_t i = 0; i < prepared.layout.recordCount; ++i) {
    TextLayout one = prepared.layout;
    one.firstRecord += i;
    one.recordCount = 1;
    std::string text;
    EXPECT_EQ(::DecodeTextRecords(book.Records(), one, prepared.huff.get(), text), MOBI_OK);
    texts.push_back(std::move(text));
  }
  return texts;
}

inline std::string Join(const std::vector<std::string> &parts) {
  std::string joined;
  for (const std::string &part : parts)
    joined += part;
  return joined;
}

// The records of the Palm database `pdb`, held in memory.
inline ::BookRecords InMemory(const std::vector<std::uint8_t> &pdb) {
  PdbHeader header;
  header.read(pdb);
  return ::BookRecords(pdb, header.recordOffsets);
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
  const bool huff = book.Record0().compression == PdbRecord0::kHuffCdic;
  for (std::size_t i = 0; i + 1 < texts.size(); ++i) {
    if (huff)
      EXPECT_LE(texts[i].size(), book.Record0().textRecordSize) << "text record " << i + 1;
    else
      EXPECT_EQ(texts[i].size(), book.Record0().textRecordSize) << "text record " << i + 1;
  }
  const std::string text = Join(texts);
  EXPECT_EQ(text.size(), book.Records().Record(0).U32BE(4).value_or(0));

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
