// Every real book through the whole program: good books become PDFs holding
// their words and pictures; odd and damaged ones end with a documented code.
// Each book is its own test case, so ctest spreads them over the cores.
#include "convert_book.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFOutlineDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "index/book_contents.h"
#include "container/book_sections.h"
#include "container/mobi_header.h"
#include "mobi_writer.h"
#include "pdf_tools.h"
#include "tarn_mobi.h"
#include "test_files.h"

namespace {

namespace fs = std::filesystem;
using testbook::ScratchFolder;

// What the corpus README expects of the books that are not plain good books.
int ExpectedCode(const std::string &name) {
  if (name == "odd-libmobi-textread-palmdoc.mobi")
    return kNotABook;
  if (name == "odd-libmobi-drm-v2.mobi")
    return kNotUnpacked;
  return kConverted;
}

bool AnyDocumentedCode(const std::string &name) {
  return name.starts_with("bad-");
}

// The book's HTML as the library writes it, and its image folder.
struct Unpacked {
  ScratchFolder folder;
  std::string html;
  fs::path images = folder.Path() / "book_files";
};

void Unpack(const fs::path &book, Unpacked &unpacked) {
  MobiService *service = CreateMobiService();
  ASSERT_NE(service, nullptr);
  const std::string htmlPath = unpacked.folder.File("book.htm");
  ASSERT_EQ(service->Init(service->data, book.c_str()), MOBI_OK);
  ASSERT_EQ(service->MobiToHtml(service->data, htmlPath.c_str()), MOBI_OK);
  service->ClearUp(service->data);
  FreeMobiService(service);
  const testbook::Bytes bytes = testbook::ReadFile(htmlPath);
  unpacked.html.assign(bytes.begin(), bytes.end());
}

// The text a reader sees: the body without markup, scripts, styles or the
// hidden contents list.
// Searched for without a regex: a lazy pattern over a long head (a KF8
// book's style sheets) recurses once per character and overflows the stack.
std::string VisibleText(const std::string &html) {
  std::string lowered = html;
  std::transform(lowered.begin(), lowered.end(), lowered.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  const std::pair<std::string, std::string> hidden[] = {
      {"<head", "</head>"}, {"<script", "</script>"}, {"<style", "</style>"},
      {"<nav id=\"bookconv-contents\"", "</nav>"}};
  std::string shown;
  for (std::size_t at = 0; at < html.size();) {
    std::size_t next = html.size(), end = html.size();
    for (const auto &[open, close] : hidden)
      if (const std::size_t found = lowered.find(open, at); found < next) {
        next = found;
        const std::size_t closed = lowered.find(close, found);
        end = closed == std::string::npos ? html.size() : closed + close.size();
      }
    shown.append(html, at, next - at).append(" ");
    at = end;
  }
  static const std::regex tag("<[^>]*>|&[#a-zA-Z0-9]+;");
  return std::regex_replace(shown, tag, " ");
}

// Up to `count` words spread over the text: runs of letters (any byte of
// 0x80 or above counts as one), at most 12 bytes of each, cut at a character.
std::vector<std::string> SampleWords(const std::string &text, std::size_t count) {
  std::vector<std::string> words;
  std::string word;
  auto keep = [&] {
    if (word.size() >= 4) {
      std::size_t cut = std::min<std::size_t>(word.size(), 12);
      while (cut < word.size() && (static_cast<unsigned char>(word[cut]) & 0xC0) == 0x80)
        --cut;
      words.push_back(word.substr(0, cut));
    }
    word.clear();
  };
  for (char byte : text) {
    if (std::isalpha(static_cast<unsigned char>(byte)) || static_cast<unsigned char>(byte) >= 0x80)
      word += byte;
    else
      keep();
  }
  keep();
  std::vector<std::string> sample;
  for (std::size_t i = 0; i < count && !words.empty(); ++i)
    sample.push_back(words[i * words.size() / count]);
  return sample;
}

// Whether the UTF-8 sequence at `text[at]` (of `length` bytes) is a Hebrew
// point, an Arabic vowel sign or a direction mark: the PDF's text reader
// puts these in visual order, and no reader's word hangs on them.
bool IsMarkOrDirection(std::string_view text, std::size_t at, std::size_t length) {
  char32_t code = static_cast<unsigned char>(text[at]) & (0x7F >> (length > 1 ? length : 0));
  for (std::size_t i = 1; i < length; ++i)
    code = code << 6 | (static_cast<unsigned char>(text[at + i]) & 0x3F);
  return (code >= 0x0591 && code <= 0x05C7 && code != 0x05BE) ||
         (code >= 0x064B && code <= 0x065F) || code == 0x0670 || code == 0x200E || code == 0x200F ||
         (code >= 0x202A && code <= 0x202E) || (code >= 0x2066 && code <= 0x2069);
}

// The letters of `text`: without white space, points and direction marks.
std::string LettersOf(std::string_view text) {
  std::string squeezed;
  for (std::size_t at = 0; at < text.size();) {
    std::size_t length = 1;
    while (at + length < text.size() &&
           (static_cast<unsigned char>(text[at + length]) & 0xC0) == 0x80)
      ++length;
    if (!std::isspace(static_cast<unsigned char>(text[at])) && !IsMarkOrDirection(text, at, length))
      squeezed += text.substr(at, length);
    at += length;
  }
  return squeezed;
}

// Distinct pictures of the image folder that the HTML shows.
std::size_t PicturesShown(const Unpacked &unpacked) {
  static const std::regex source("<img[^>]*?src=\"book_files/([^\"]+)\"", std::regex::icase);
  std::set<std::string> names;
  for (std::sregex_iterator at(unpacked.html.begin(), unpacked.html.end(), source), end;
       at != end; ++at)
    if (fs::exists(unpacked.images / (*at)[1].str()))
      names.insert((*at)[1].str());
  return names.size();
}

std::map<std::string, testbook::Bytes> Snapshot(const fs::path &folder) {
  std::map<std::string, testbook::Bytes> entries;
  for (const auto &entry : fs::recursive_directory_iterator(folder))
    entries[entry.path().string()] =
        entry.is_directory() ? testbook::Bytes{} : testbook::ReadFile(entry.path().string());
  return entries;
}

struct OutlineLine {
  std::string title;
  std::uint32_t level = 0;
  int page = -1; // from 0; -1 without a page
};

void AddOutlineLevel(const std::vector<QPDFOutlineObjectHelper> &items, std::uint32_t level,
                     const std::map<QPDFObjGen, int> &pages, std::vector<OutlineLine> &lines) {
  for (QPDFOutlineObjectHelper item : items) {
    const auto page = pages.find(item.getDestPage().getObjGen());
    lines.push_back({item.getTitle(), level, page == pages.end() ? -1 : page->second});
    AddOutlineLevel(item.getKids(), level + 1, pages, lines);
  }
}

// The PDF's outline in reading order, read back with qpdf.
std::vector<OutlineLine> PdfOutline(const std::string &path) {
  QPDF pdf;
  pdf.processFile(path.c_str());
  std::map<QPDFObjGen, int> pages;
  for (QPDFPageObjectHelper &page : QPDFPageDocumentHelper(pdf).getAllPages())
    pages.emplace(page.getObjectHandle().getObjGen(), static_cast<int>(pages.size()));
  std::vector<OutlineLine> lines;
  AddOutlineLevel(QPDFOutlineDocumentHelper(pdf).getTopLevelOutlines(), 0, pages, lines);
  return lines;
}

std::string CollapsedSpaces(const std::string &text) {
  std::string collapsed;
  for (char byte : text) {
    const bool space = std::isspace(static_cast<unsigned char>(byte)) != 0;
    if (!space || (!collapsed.empty() && collapsed.back() != ' '))
      collapsed += space ? ' ' : byte;
  }
  if (!collapsed.empty() && collapsed.back() == ' ')
    collapsed.pop_back();
  return collapsed;
}

// The book's contents as the NCX index of the rendition it is converted from
// holds them (the KF8 one when it has one), read with the library's index
// reader; empty when the book has none.
std::vector<ContentsEntry> NcxContents(const fs::path &book) {
  const testbook::Bytes file = testbook::ReadFile(book.string());
  const ByteReader pdb(file);
  std::vector<ByteReader> records;
  const std::uint16_t count = pdb.U16BE(76).value_or(0);
  for (std::uint32_t i = 0; i < count; ++i) {
    const std::size_t start = pdb.U32BE(78 + 8 * i).value_or(0);
    const std::size_t end = i + 1 < count ? pdb.U32BE(78 + 8 * (i + 1)).value_or(0) : file.size();
    records.push_back(pdb.Slice(start, end >= start ? end - start : 0).value_or(ByteReader()));
  }
  std::vector<std::uint32_t> offsets;
  for (std::uint32_t i = 0; i < count; ++i)
    offsets.push_back(pdb.U32BE(78 + 8 * i).value_or(0));
  const BookSections sections = FindSections(BookRecords(file, offsets));
  const std::uint32_t header = sections.kf8 ? sections.kf8->header : 0;
  const auto fields = header < records.size() ? ReadMobiHeader(records[header]) : std::nullopt;
  const auto first =
      fields ? BookSection{header, static_cast<std::uint32_t>(records.size())}.Record(fields->ncxIndex)
             : std::nullopt;
  const auto table = first ? ReadIndex(records, *first) : std::nullopt;
  return table ? FileposContents(ReadNcx(*table)) : std::vector<ContentsEntry>();
}

// The outline holds every NCX entry, in order and at its level, each on a
// page, the pages never going back.
void ExpectOutlineIsTheNcx(const fs::path &book, const std::string &pdfPath) {
  const std::vector<ContentsEntry> ncx = NcxContents(book);
  if (ncx.empty())
    return;
  const std::vector<OutlineLine> outline = PdfOutline(pdfPath);
  std::size_t held = 0;
  int lastPage = 0;
  for (std::size_t i = 0; i < ncx.size() && i < outline.size(); ++i) {
    EXPECT_EQ(outline[i].title, CollapsedSpaces(ncx[i].label)) << "entry " << i;
    EXPECT_EQ(outline[i].level, ncx[i].depth) << ncx[i].label;
    EXPECT_GE(outline[i].page, lastPage) << ncx[i].label;
    lastPage = std::max(lastPage, outline[i].page);
    held += outline[i].title == CollapsedSpaces(ncx[i].label);
  }
  EXPECT_EQ(outline.size(), ncx.size());
  std::printf("%s: the outline holds %zu of %zu NCX entries\n", book.filename().c_str(), held,
              ncx.size());
}

class CorpusBook : public testing::TestWithParam<fs::path> {};

TEST_P(CorpusBook, ConvertsOrEndsWithItsDocumentedCode) {
  const fs::path book = GetParam();
  const std::string name = book.filename().string();
  ScratchFolder scratch;
  const std::string work = scratch.File("work");
  const std::string output = scratch.File("book.pdf");
  fs::create_directory(work);
  testbook::WriteFile(work + "/mine.txt", testbook::ToBytes("kept"));
  const auto before = Snapshot(work);

  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int result = ConvertBook(book.c_str(), output.c_str(), (work + "/").c_str());
  const std::string err = testing::internal::GetCapturedStderr();
  testing::internal::GetCapturedStdout();

  EXPECT_EQ(Snapshot(work), before) << name;
  if (AnyDocumentedCode(name)) {
    const std::set<int> documented{kConverted, kNotABook, kNotUnpacked, kRenderingFailed};
    EXPECT_TRUE(documented.count(result)) << name << " ended with " << result << "\n" << err;
    return;
  }
  ASSERT_EQ(result, ExpectedCode(name)) << err;
  if (result != kConverted) {
    EXPECT_FALSE(fs::exists(output));
    return;
  }

  Unpacked unpacked;
  ASSERT_NO_FATAL_FAILURE(Unpack(book, unpacked));
  const std::string pdfText = LettersOf(testbook::PdfText(output));
  const auto words = SampleWords(VisibleText(unpacked.html), 60);
  std::vector<std::string> missing;
  for (const std::string &word : words)
    if (pdfText.find(LettersOf(word)) == std::string::npos)
      missing.push_back(word);
  // The CJK font maps a few ideographs to look-alike radicals in the PDF's
  // text, so a few words may read differently there.
  EXPECT_LE(missing.size() * 5, words.size())
      << missing.size() << " of " << words.size() << " words missing, e.g. " << missing.front();
  if (words.empty()) { // a picture book
    EXPECT_GT(PicturesShown(unpacked), 0u);
  }
  EXPECT_GE(testbook::PdfPictureCount(output), PicturesShown(unpacked));
  ExpectOutlineIsTheNcx(book, output);
}

std::string TestName(const testing::TestParamInfo<fs::path> &info) {
  std::string name = info.param.stem().string();
  std::replace_if(name.begin(), name.end(), [](char c) { return !std::isalnum(c); }, '_');
  return name;
}

std::vector<fs::path> LargestFirst() {
  std::vector<fs::path> books = testbook::CorpusBooks();
  std::stable_sort(books.begin(), books.end(), [](const fs::path &a, const fs::path &b) {
    return fs::file_size(a) > fs::file_size(b);
  });
  return books;
}

INSTANTIATE_TEST_SUITE_P(Books, CorpusBook, testing::ValuesIn(LargestFirst()), TestName);
GTEST_ALLOW_UNINSTANTIATED_PARAMETERIZED_TEST(CorpusBook);

TEST(CorpusBooks, ArePresent) { SKIP_WITHOUT_CORPUS(); }

} // namespace
