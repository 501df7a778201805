// What a reader notices of the layout and of rendering in pieces: chapters
// start pages, a dictionary stays compact, links and the outline land on
// their chapters across pieces, pieces give the text of the whole, and an
// interrupted conversion leaves nothing behind.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFOutlineDocumentHelper.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "book_layout.h"
#include "convert_book.h"
#include "html_pieces.h"
#include "html_tags.h"
#include "linked_text.h"
#include "mobi_writer.h"
#include "pdf_joiner.h"
#include "pdf_tools.h"
#include "render_pdf.h"
#include "test_files.h"

namespace {

// Lays `html` out as the program does a book the library does not call a
// dictionary.
void LayOut(std::string &html) {
  finishing::ApplyEdits(html, layout::LayoutEdits(html, finishing::ScanTags(html), false, false));
}

namespace fs = std::filesystem;
using testbook::LinkedText;
using testbook::ScratchFolder;

std::string Prose(int chapter, std::size_t bytes) {
  std::string text;
  for (int paragraph = 0; text.size() < bytes; ++paragraph) {
    text += "<p width=\"1em\" height=\"0pt\">";
    for (int word = 0; word < 60; ++word)
      text += (word == 0 ? "Para" + std::to_string(chapter) + "x" + std::to_string(paragraph)
                         : std::string(word % 3 ? "meadow" : "lantern")) +
              " ";
    text += "</p>";
  }
  return text;
}

// A novel of `chapters` chapters of about `chapterBytes` each, a linked
// contents page first; the chapters are parted by the spellings of the page
// break that books use.
std::string Novel(int chapters, std::size_t chapterBytes) {
  static const char *kBreaks[] = {"<mbp:pagebreak/>", "<MBP:PAGEBREAK />",
                                  "<mbp:pagebreak></mbp:pagebreak>"};
  LinkedText text;
  text.Add("<html><head><guide><reference type=\"toc\" title=\"Contents\" filepos=0000000000 />"
           "</guide></head><body>");
  text.Mark("toc").Add("<h2>Contents</h2>");
  for (int c = 1; c <= chapters; ++c)
    text.Add("<p>").Link("c" + std::to_string(c), "Chapter " + std::to_string(c)).Add("</p>");
  for (int c = 1; c <= chapters; ++c) {
    text.Add(kBreaks[c % 3]).Mark("c" + std::to_string(c));
    text.Add("<h2>Chapter " + std::to_string(c) + "</h2>" + Prose(c, chapterBytes));
  }
  std::string book = text.Text() + "</body></html>";
  // The guide's own offset: the contents page.
  const std::size_t toc = book.find("<h2>Contents");
  char digits[11];
  std::snprintf(digits, sizeof digits, "%010zu", toc);
  book.replace(book.find("0000000000"), 10, digits);
  return book;
}

// A book of `text`; a dictionary has a look-up index of its own.
testbook::Bytes MobiOf(const std::string &text, bool dictionary = false) {
  testbook::BookSpec spec;
  spec.textRecords = testbook::SplitText(text, 4096);
  if (dictionary)
    spec.orthographicIndex = static_cast<std::uint32_t>(spec.textRecords.size() + 1);
  return testbook::BuildBook(spec);
}

std::string PageText(const std::string &pdf, int page) {
  const std::string n = std::to_string(page);
  return testbook::RunProgram({"pdftotext", "-f", n, "-l", n, pdf, "-"}).out;
}

std::string Words(const std::string &text) {
  std::istringstream in(text);
  std::string words, word;
  while (in >> word)
    words += word + " ";
  return words;
}

// The page numbers (1-based) that the outline entries and the links jump to.
struct Jumps {
  std::vector<int> outline;
  std::vector<int> links; // in page order
};

Jumps ReadJumps(const std::string &path) {
  QPDF pdf;
  pdf.processFile(path.c_str());
  std::map<QPDFObjGen, int> pageNumbers;
  auto pages = QPDFPageDocumentHelper(pdf).getAllPages();
  for (std::size_t i = 0; i < pages.size(); ++i)
    pageNumbers[pages[i].getObjectHandle().getObjGen()] = static_cast<int>(i) + 1;
  auto pageOf = [&](QPDFObjectHandle destination) {
    return destination.isArray() ? pageNumbers[destination.getArrayItem(0).getObjGen()] : 0;
  };
  Jumps jumps;
  for (auto &item : QPDFOutlineDocumentHelper(pdf).getTopLevelOutlines())
    jumps.outline.push_back(pageOf(item.getDest()));
  for (auto &page : pages) {
    auto annotations = page.getObjectHandle().getKey("/Annots");
    for (int i = 0; annotations.isArray() && i < annotations.getArrayNItems(); ++i)
      if (auto destination = annotations.getArrayItem(i).getKey("/Dest"); destination.isArray())
        jumps.links.push_back(pageOf(destination));
  }
  return jumps;
}

int PageCount(const std::string &pdf) {
  QPDF file;
  file.processFile(pdf.c_str());
  return static_cast<int>(QPDFPageDocumentHelper(file).getAllPages().size());
}

struct Converted {
  int result = -1;
  std::string pdf;
};

Converted ConvertText(const ScratchFolder &scratch, const std::string &text,
                      bool dictionary = false) {
  testbook::WriteFile(scratch.File("book.mobi"), MobiOf(text, dictionary));
  fs::create_directories(scratch.File("work"));
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  Converted converted{ConvertBook(scratch.File("book.mobi").c_str(),
                                  scratch.File("book.pdf").c_str(), scratch.File("work").c_str()),
                      scratch.File("book.pdf")};
  testing::internal::GetCapturedStdout();
  testing::internal::GetCapturedStderr();
  return converted;
}

// Large enough to be cut into several pieces on any machine.
constexpr int kChapters = 6;
constexpr std::size_t kChapterBytes = 150 * 1024;

TEST(BookPieces, ChaptersStartPagesAndLinksAndOutlineLandOnThemAcrossPieces) {
  ScratchFolder scratch;
  const Converted book = ConvertText(scratch, Novel(kChapters, kChapterBytes));
  ASSERT_EQ(book.result, kConverted);
  ASSERT_GT(layout::CutIntoPieces(Novel(kChapters, kChapterBytes),
                                  layout::PieceBytes(kChapters * kChapterBytes, 1, false), "")
                .size(),
            2u);
  const int pages = PageCount(book.pdf);
  std::vector<int> chapterPages;
  for (int page = 1; page <= pages; ++page) {
    const std::string text = PageText(book.pdf, page);
    ASSERT_NE(Words(text), "") << "page " << page << " is empty";
    if (text.starts_with("Chapter ") && text.find("Para") != std::string::npos)
      chapterPages.push_back(page);
  }
  ASSERT_EQ(chapterPages.size(), static_cast<std::size_t>(kChapters));
  for (int c = 1; c <= kChapters; ++c)
    EXPECT_TRUE(
        PageText(book.pdf, chapterPages[c - 1]).starts_with("Chapter " + std::to_string(c)));

  const Jumps jumps = ReadJumps(book.pdf);
  EXPECT_EQ(jumps.links, chapterPages); // the contents page's links, the last into the last piece
  EXPECT_EQ(jumps.outline, chapterPages);
}

// A dictionary known by its guide's look-up, or by the library from its own
// look-up index.
TEST(BookPieces, DictionaryEntriesRunOnInsteadOfTakingAPageEach) {
  std::string entries;
  for (int entry = 0; entry < 400; ++entry)
    entries +=
        "<b>headword" + std::to_string(entry) + "</b><br/> a short sense<br/><mbp:pagebreak/>";
  const std::string lookUp = "<guide><reference title=\"Dictionary\" type=\"index\" "
                             "filepos=0000000000 /></guide>";
  for (const bool indexed : {false, true}) {
    ScratchFolder scratch;
    const Converted book = ConvertText(scratch,
                                       "<html><head>" + (indexed ? "" : lookUp) + "</head><body>" +
                                           entries + "</body></html>",
                                       indexed);
    ASSERT_EQ(book.result, kConverted);
    EXPECT_LT(PageCount(book.pdf), 40) << indexed;
    const std::string words = Words(testbook::PdfText(book.pdf));
    EXPECT_NE(words.find("headword0 "), std::string::npos);
    EXPECT_NE(words.find("headword399 "), std::string::npos);
  }
}

// Cut far smaller than a book would be, inside open elements and at the
// parts of a KF8 book, the pieces still read as the whole.
TEST(BookPieces, PiecesGiveTheTextOfTheWholeWithoutEmptyPages) {
  ScratchFolder scratch;
  const std::string folder = scratch.Path().string() + "/";
  std::string html = "<?xml version=\"1.0\"?><html><head></head><body><blockquote><div>";
  for (int part = 0; part < 4; ++part) {
    html += std::string("<div class=\"bookconv-part\"") +
            (part ? " style=\"page-break-before:always\"" : "") + "><h3>Part " +
            std::to_string(part) + "</h3>" + Prose(part, 3000) + "</div><mbp:pagebreak/>";
  }
  html += "</div></blockquote></body></html>";
  LayOut(html);
  testbook::WriteFile(folder + "whole.htm", testbook::ToBytes(html));
  const auto pieces = layout::CutIntoPieces(html, 2000, "");
  ASSERT_GT(pieces.size(), 6u);
  std::vector<RenderJob> jobs{{folder + "whole.htm", folder + "whole.pdf", html.size()}};
  std::vector<std::string> parts;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::string stem = folder + "piece" + std::to_string(i);
    testbook::WriteFile(stem + ".htm", testbook::ToBytes(pieces[i]));
    jobs.push_back({stem + ".htm", stem + ".pdf", pieces[i].size()});
    parts.push_back(stem + ".pdf");
  }
  testing::internal::CaptureStdout();
  const int rendered = RenderPdfs(jobs, folder);
  testing::internal::GetCapturedStdout();
  ASSERT_NE(rendered, 0);
  finishing::WritePdfFile(*finishing::JoinPdfs(parts), folder + "joined.pdf");

  EXPECT_EQ(Words(testbook::PdfText(folder + "joined.pdf")),
            Words(testbook::PdfText(folder + "whole.pdf")));
  for (int page = 1; page <= PageCount(folder + "joined.pdf"); ++page)
    EXPECT_NE(Words(PageText(folder + "joined.pdf", page)), "") << "page " << page;
}

TEST(BookPieces, EveryPieceHasTheStyleSheetWhereverTheBookPutsAHead) {
  // Markup inside a title is its text, and a head inside the body is not the
  // document's: the style sheet goes before the body, which every piece repeats.
  std::string html = "<body><title><html><head></head></title>" + Prose(0, 3000) +
                     "<head></head>" + Prose(1, 3000) + "</body>";
  LayOut(html);
  const auto pieces = layout::CutIntoPieces(html, 2000, "");
  ASSERT_GT(pieces.size(), 2u);
  for (const std::string &piece : pieces)
    EXPECT_LT(piece.find("<style"), piece.find("<body>")) << piece.substr(0, 200);
}

TEST(BookPieces, OnePieceThatFailsFailsTheRendering) {
  ScratchFolder scratch;
  const std::string folder = scratch.Path().string() + "/";
  testbook::WriteFile(folder + "a.htm", testbook::ToBytes("<html><body>a</body></html>"));
  testing::internal::CaptureStdout();
  testing::internal::CaptureStderr();
  const int rendered = RenderPdfs({{folder + "a.htm", folder + "a.pdf", 1},
                                   {folder + "missing.htm", folder + "b.pdf", 1}},
                                  folder);
  testing::internal::GetCapturedStdout();
  const std::string err = testing::internal::GetCapturedStderr();
  EXPECT_EQ(rendered, 0);
  EXPECT_TRUE(err.ends_with("Convertion failed!")) << err;
}

// The parent of each process there is.
std::map<pid_t, pid_t> ProcessParents() {
  std::map<pid_t, pid_t> parents;
  for (const auto &entry : fs::directory_iterator("/proc")) {
    const std::string name = entry.path().filename().string();
    if (name.find_first_not_of("0123456789") != std::string::npos)
      continue;
    // A process may end while the list is read.
    std::ifstream file(entry.path() / "stat");
    std::string line;
    std::getline(file, line);
    const std::size_t nameEnd = line.rfind(')');
    char state = 0;
    int parent = 0;
    if (nameEnd != std::string::npos &&
        std::sscanf(line.c_str() + nameEnd + 1, " %c %d", &state, &parent) == 2 && state != 'Z')
      parents[std::stoi(name)] = parent;
  }
  return parents;
}

// How many live processes descend from `ancestor`.
std::size_t DescendantCount(pid_t ancestor) {
  const std::map<pid_t, pid_t> parents = ProcessParents();
  std::size_t count = 0;
  for (const auto &[pid, parent] : parents) {
    pid_t up = parent;
    for (int depth = 0; up > 1 && up != ancestor && depth < 64; ++depth) {
      const auto next = parents.find(up);
      up = next == parents.end() ? 0 : next->second;
    }
    count += up == ancestor ? 1 : 0;
  }
  return count;
}

// Every process the conversion started ends with it, whichever engine ran:
// this test takes in the orphans (a child subreaper), so any process left
// behind stays countable as its descendant.
TEST(BookPieces, InterruptedConversionEndsItsRendererAndLeavesTheFolderAsFound) {
  ASSERT_EQ(prctl(PR_SET_CHILD_SUBREAPER, 1), 0);
  for (int signal : {SIGTERM, SIGINT, SIGHUP}) {
    ScratchFolder scratch;
    testbook::WriteFile(scratch.File("book.mobi"), MobiOf(Novel(kChapters, kChapterBytes)));
    const std::string work = scratch.File("work");
    fs::create_directories(work);
    testbook::WriteFile(work + "/mine.txt", testbook::ToBytes("the user's own file"));
    const pid_t child = testbook::StartQuietly(
        {BOOKCONV_PROGRAM, scratch.File("book.mobi"), scratch.File("book.pdf"), work + "/"});
    ASSERT_GT(child, 0);
    // Until the renderer runs on the pieces.
    for (int wait = 0; wait < 600 && DescendantCount(child) == 0; ++wait)
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    kill(child, signal);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 128 + signal);
    while (waitpid(-1, nullptr, WNOHANG) > 0) {
    }
    EXPECT_EQ(DescendantCount(getpid()), 0u) << "a renderer process outlived the conversion";
    std::vector<std::string> left;
    for (const auto &entry : fs::directory_iterator(work))
      left.push_back(entry.path().filename().string());
    EXPECT_EQ(left, std::vector<std::string>{"mine.txt"});
    EXPECT_FALSE(fs::exists(scratch.File("book.pdf")));
  }
}

} // namespace

namespace {

// The height of `word` on the first page of `html` laid out and rendered, and
// the PDF's text with its whitespace taken out.
std::pair<double, std::string> RenderLaidOut(std::string html, const std::string &folder) {
  LayOut(html);
  testbook::WriteFile(folder + "book.htm", testbook::ToBytes(html));
  testing::internal::CaptureStdout();
  const int rendered = RenderPdf(folder + "book.htm", folder + "book.pdf", folder);
  testing::internal::GetCapturedStdout();
  EXPECT_NE(rendered, 0);
  const std::string boxes =
      testbook::RunProgram({"pdftotext", "-bbox", folder + "book.pdf", "-"}).out;
  std::string text = testbook::PdfText(folder + "book.pdf");
  std::erase_if(text, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
  return {testbook::WordBox(boxes, "Para1x0").second, text};
}

} // namespace

// An address longer than a line wraps inside the margins: the page is not
// shrunk to fit it and none of it is lost; entities and accented letters in it
// stay whole.
TEST(BookPieces, ALongAddressWrapsWithoutShrinkingThePage) {
  ScratchFolder scratch;
  const std::string folder = scratch.Path().string() + "/";
  std::string address = "https://example.org/caf\xC3\xA9/";
  for (int i = 0; address.size() < 400; ++i)
    address += "segment" + std::to_string(i) + "&amp;";
  const std::string start = "<html><head></head><body>" + Prose(1, 600);
  const auto [plainHeight, plainText] = RenderLaidOut(start + "</body></html>", folder);
  const auto [height, text] = RenderLaidOut(start + "<p>" + address + "</p></body></html>", folder);
  ASSERT_GT(plainHeight, 0);
  EXPECT_NEAR(height, plainHeight, plainHeight * 0.02);
  std::string shown = address;
  for (std::size_t at; (at = shown.find("&amp;")) != std::string::npos;)
    shown.replace(at, 5, "&");
  EXPECT_NE(text.find(shown), std::string::npos);
}
