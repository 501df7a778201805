#include "sample_books.h"

namespace testbook {

const char kSampleMarkup[] =
    "<html><head><guide><reference type=\"toc\" filepos=0000000060 /></guide></head><body>"
    "<p>Chapter <a filepos=00000120>one</a> and <a FILEPOS='7'>seven</a>.</p>"
    "<img recindex=\"00001\" alt=x><img recindex='2'><p height=\"1em\">End<mbp:pagebreak/>"
    "<image src=cover.jpg></body></html>";

Bytes PalmDocLiterals(const std::string &text) {
  Bytes out;
  for (std::size_t at = 0; at < text.size(); at += 8) {
    const std::string piece = text.substr(at, 8);
    out.push_back(static_cast<std::uint8_t>(piece.size()));
    out.insert(out.end(), piece.begin(), piece.end());
  }
  return out;
}

Bytes TinyGif() { return ToBytes(std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00;", 17)); }

std::vector<SampleBook> SampleBooks() {
  std::vector<SampleBook> books;

  BookSpec plain;
  plain.textRecords = SplitText(std::string(kSampleMarkup) + std::string(300, 'x'), 128);
  plain.imageRecords = {TinyGif(), ToBytes("\xFF\xD8\xFF\xE0 not really a jpeg"),
                        ToBytes(std::string("FLIS\0\0\0\x08", 8))};
  plain.exth = {{100, ToBytes("Author, An")}, {201, Bytes{0, 0, 0, 0}}, {101, ToBytes("Pub")}};
  plain.tailRecords = {ToBytes(std::string("FCIS\0\0\0\x14", 8)), Bytes{0xE9, 0x8E, 0x0D, 0x0A}};
  books.push_back({"written-plain", BuildBook(plain)});

  BookSpec palmdoc = plain;
  palmdoc.compression = 2;
  palmdoc.textEncoding = 1252;
  palmdoc.mobiHeaderLength = 264;
  palmdoc.extraDataFlags = 3;
  // Each record ends in a one-byte multibyte entry and a one-byte trailing entry.
  palmdoc.textRecords = {PalmDocLiterals(kSampleMarkup), Bytes{'a', 'b', 0x80, 0x13, 0xE1, 0x00}};
  for (Bytes &record : palmdoc.textRecords)
    record.insert(record.end(), {0x00, 0x81});
  books.push_back({"written-palmdoc", BuildBook(palmdoc)});

  BookSpec bare;
  bare.fullName = "";
  bare.textRecords = {ToBytes("<p>no pictures</p>")};
  books.push_back({"written-bare", BuildBook(bare)});
  return books;
}

} // namespace testbook
