// The finishing step over PDFs the real renderer makes: HTML in the library's
// output form is prepared, rendered the way the converter renders it (with
// either engine), finished, and then read back with qpdf.
#include "pdf_finisher.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>

#include "book_pdf.h"
#include "convert_book.h"
#include "linked_text.h"
#include "mobi_writer.h"
#include "pdf_tools.h"
#include "render_pdf.h"
#include "test_files.h"

namespace {

using finishing::BookDetails;
using finishing::FinishPlan;
using Handle = QPDFObjectHandle;

bool HaveProgram(const std::string &name) {
  return testbook::RunProgram({"sh", "-c", "command -v " + name}).status == 0;
}

#define SKIP_WITHOUT(program)                                                                      \
  do {                                                                                             \
    if (!HaveProgram(program))                                                                     \
      GTEST_SKIP() << program " is not installed";                                                 \
  } while (0)

std::string ReadText(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

void WriteText(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

// The working folder of one conversion, with the converter's file names.
// Its name holds a space and a letter beyond ASCII, which a file address
// writes escaped.
struct WorkFolder {
  WorkFolder() { std::filesystem::create_directory(folder); }
  testbook::ScratchFolder scratch;
  std::string folder = scratch.Path().string() + "/my w\xc3\xb6rk folder/";
  std::string html = folder + "tmpData.htm";
  std::string pdf = folder + "tmpData.pdf";

  // Renders the HTML file as the converter does, with whichever engine it
  // chooses.
  void Render() const {
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    const int rendered = RenderPdf(html, pdf, folder);
    testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    ASSERT_NE(rendered, 0) << err;
  }

  // Prepares, renders and finishes `book`.
  FinishPlan Convert(std::string book, const BookDetails &details, const std::string &cover = "") {
    FinishPlan plan = finishing::PrepareHtmlText(book, cover);
    WriteText(html, book);
    Render();
    const finishing::BookPdfPtr rendered = finishing::JoinPdfs({pdf});
    finishing::FinishPdf(rendered->pdf, folder, plan, details);
    finishing::WritePdfFile(*rendered, pdf);
    return plan;
  }
};

// One word the renderer printed: its page (from 0) and its top, measured from
// the top of the page.
struct WordPlace {
  int page = -1;
  double top = 0;
};

// Every word of the PDF with its first place, as poppler's pdftotext reads it.
std::map<std::string, WordPlace> WordPlaces(const std::string &pdfPath) {
  const testbook::ProgramResult boxes = testbook::RunProgram({"pdftotext", "-bbox", pdfPath, "-"});
  EXPECT_EQ(boxes.status, 0) << boxes.err;
  std::map<std::string, WordPlace> places;
  const std::regex item(R"re(<page |<word xMin="[^"]*" yMin="([^"]*)"[^>]*>([^<]*)</word>)re");
  int page = -1;
  for (auto match = std::sregex_iterator(boxes.out.begin(), boxes.out.end(), item);
       match != std::sregex_iterator(); ++match) {
    if ((*match)[0].str().rfind("<page", 0) == 0) {
      ++page;
      continue;
    }
    places.try_emplace((*match)[2].str(), WordPlace{page, std::stod((*match)[1].str())});
  }
  return places;
}

// What the finished PDF holds, read with qpdf.
struct PdfLink {
  int page = -1;     // the page that holds the link
  int destPage = -1; // for a jump: its page
  double destTop = 0; // and its height, from the top of the page
  std::string uri;   // for an address
};

struct OutlineItem {
  std::string title;
  int level = 0;
  int destPage = -1;
  double destTop = 0;
};

struct FinishedPdf {
  std::vector<PdfLink> links;
  std::vector<OutlineItem> outline;
  std::string title, author;
  std::vector<std::string> strings; // every string of every object
  int pages = 0;
  int imagesOnFirstPage = 0;
};

class PdfReader {
public:
  explicit PdfReader(const std::string &path) {
    pdf_.processFile(path.c_str());
    for (auto &page : QPDFPageDocumentHelper(pdf_).getAllPages())
      pages_.push_back(page.getObjectHandle());
  }

  FinishedPdf Read() {
    FinishedPdf result;
    result.pages = static_cast<int>(pages_.size());
    for (int i = 0; i < result.pages; ++i) {
      Handle annots = pages_[i].getKey("/Annots");
      if (annots.isArray())
        for (Handle annotation : annots.getArrayAsVector())
          result.links.push_back(ReadLink(i, annotation));
    }
    Handle outlines = pdf_.getRoot().getKey("/Outlines");
    if (outlines.isDictionary())
      ReadOutline(outlines.getKey("/First"), 0, result.outline);
    Handle info = pdf_.getTrailer().getKey("/Info");
    if (info.isDictionary()) {
      result.title = info.getKey("/Title").isString() ? info.getKey("/Title").getUTF8Value() : "";
      result.author =
          info.getKey("/Author").isString() ? info.getKey("/Author").getUTF8Value() : "";
    }
    CollectStrings(pdf_.getTrailer(), result.strings);
    for (Handle object : pdf_.getAllObjects())
      CollectStrings(object, result.strings);
    Handle xobjects = pages_.front().getKey("/Resources").getKey("/XObject");
    if (xobjects.isDictionary())
      for (const std::string &key : xobjects.getKeys())
        result.imagesOnFirstPage +=
            xobjects.getKey(key).getDict().getKey("/Subtype").isNameAndEquals("/Image");
    return result;
  }

private:
  int PageIndex(Handle page) {
    for (std::size_t i = 0; i < pages_.size(); ++i)
      if (pages_[i].getObjGen() == page.getObjGen())
        return static_cast<int>(i);
    return -1;
  }

  void ReadDest(Handle dest, int &page, double &top) {
    if (!dest.isArray() || dest.getArrayNItems() < 4)
      return;
    page = PageIndex(dest.getArrayItem(0));
    const double height = pages_[std::max(page, 0)].getKey("/MediaBox").getArrayAsRectangle().ury;
    top = height - dest.getArrayItem(3).getNumericValue();
  }

  PdfLink ReadLink(int page, Handle annotation) {
    PdfLink link;
    link.page = page;
    ReadDest(annotation.getKey("/Dest"), link.destPage, link.destTop);
    Handle action = annotation.getKey("/A");
    if (action.isDictionary() && action.getKey("/URI").isString())
      link.uri = action.getKey("/URI").getStringValue();
    return link;
  }

  void ReadOutline(Handle item, int level, std::vector<OutlineItem> &items) {
    for (; item.isDictionary(); item = item.getKey("/Next")) {
      OutlineItem entry;
      entry.title = item.getKey("/Title").getUTF8Value();
      entry.level = level;
      ReadDest(item.getKey("/Dest"), entry.destPage, entry.destTop);
      items.push_back(entry);
      ReadOutline(item.getKey("/First"), level + 1, items);
    }
  }

  static void CollectStrings(Handle object, std::vector<std::string> &strings) {
    if (object.isString()) {
      strings.push_back(object.getStringValue());
    } else if (object.isArray()) {
      for (Handle item : object.getArrayAsVector())
        if (!item.isIndirect())
          CollectStrings(item, strings);
    } else if (object.isDictionary() || object.isStream()) {
      Handle dictionary = object.isStream() ? object.getDict() : object;
      for (const std::string &key : dictionary.getKeys())
        if (!dictionary.getKey(key).isIndirect())
          CollectStrings(dictionary.getKey(key), strings);
    }
  }

  QPDF pdf_;
  std::vector<Handle> pages_;
};

FinishedPdf ReadPdf(const std::string &path) { return PdfReader(path).Read(); }

std::vector<PdfLink> Jumps(const FinishedPdf &pdf) {
  std::vector<PdfLink> jumps;
  for (const PdfLink &link : pdf.links)
    if (link.destPage >= 0)
      jumps.push_back(link);
  return jumps;
}

// A jump lands on the target's page, at most a line above the target's top
// and never below it.
void ExpectLandsOn(int destPage, double destTop, const WordPlace &target, const std::string &what) {
  EXPECT_EQ(destPage, target.page) << what;
  if (destPage == target.page) {
    EXPECT_LE(destTop, target.top + 1) << what;
    EXPECT_GE(destTop, target.top - 40) << what;
  }
}

// No string of the PDF, and no byte of its file, names the folder `name`,
// and no string is a file address.
void ExpectNoTrace(const FinishedPdf &pdf, const std::string &pdfPath, const std::string &name) {
  for (const std::string &text : pdf.strings) {
    EXPECT_EQ(text.find(name), std::string::npos) << text;
    EXPECT_EQ(text.find("file:"), std::string::npos) << text;
  }
  EXPECT_EQ(ReadText(pdfPath).find(name), std::string::npos);
}

void ExpectNoFolderTrace(const FinishedPdf &pdf, const WorkFolder &work) {
  ExpectNoTrace(pdf, work.pdf, work.scratch.Path().filename().string());
}

// A book in the library's output form: a guide naming the contents page, the
// contents page with nested lines, and chapters long enough to run over
// several pages, which cross-refer forwards and backwards. Each place a link
// aims at starts with a word of its own ("HeadingN", "TargetN"), so the test
// can find it in the rendered text.
struct GeneratedBook {
  std::string html;
  std::vector<std::string> linkTargets; // the target word of each link, in document order
  struct Chapter {
    std::string title;
    int level = 0;
    std::string word; // the first word of its heading
  };
  std::vector<Chapter> chapters;
};

std::string Paragraphs(int count, int seed) {
  std::string text;
  for (int i = 0; i < count; ++i)
    text += "<p>Plain words fill this paragraph number " + std::to_string(seed * 100 + i) + " " +
            std::string(static_cast<std::size_t>(20 + (seed * 7 + i * 13) % 60), 'x') +
            " and then some more plain words to make a line or two of text.</p>";
  return text;
}

std::string Anchor(int position) {
  return "<a id=\"filepos" + std::to_string(position) + "\" />";
}

std::string Link(int position, const std::string &text) {
  return "<a href=\"#filepos" + std::to_string(position) + "\">" + text + "</a>";
}

// Forty chapters put some headings at the foot of a page, where the renderer
// moves them over to the next one.
GeneratedBook MakeBook(int chapterCount = 40) {
  GeneratedBook book;
  std::string toc = Anchor(40) + "<h1>Contents</h1>";
  std::string body;
  std::string forwards = "<p>See";
  std::string backwards = "<p>Back to";
  for (int c = 1; c <= chapterCount; ++c) {
    const std::string n = std::to_string(c);
    const int chapterPos = 1000 * c;
    const int markPos = chapterPos + 500;
    // Chapters 1, 4, 7... open a part; the others nest under it.
    const bool part = c % 3 == 1;
    const std::string title = (part ? "Part " : "Chapter ") + n + " of the book";
    book.chapters.push_back({title, part ? 0 : 1, "Heading" + n});
    const std::string line = "<p>" + Link(chapterPos, title) + "</p>";
    toc += part ? line : "<blockquote>" + line + "</blockquote>";

    body += Anchor(chapterPos) + "<h2>Heading" + n + " " + title + "</h2>";
    body += Paragraphs(6 + c % 4, c);
    // A place in the middle of a paragraph.
    body += "<p>Just before the mark " + Anchor(markPos) + "Target" + n + " starts here.</p>";
    body += Paragraphs(5 + c % 3, c + 50);
    forwards += " " + Link(markPos, "ref" + n);
    // Backwards in the form the library leaves as it is: two spaces, leading
    // zeros, a second attribute.
    backwards += " <a  filepos=" + std::string(4, '0') +
                 std::to_string(1000 * (chapterCount + 1 - c) + 500) + " class=\"x\">back" + n +
                 "</a>";
  }
  forwards += " " + Link(999999, "nowhere") + ".</p>";
  backwards += ".</p><p>An <a href=\"https://example.org/\">outside</a> link and a "
               "<a href=\"notes.htm\">local</a> one.</p>";
  // Cross references forwards from the start of chapter 1, backwards from
  // the end of the last chapter.
  body.insert(body.find("</h2>") + 5, forwards);
  body += backwards;

  for (const auto &chapter : book.chapters)
    book.linkTargets.push_back(chapter.word);
  for (int c = 1; c <= chapterCount; ++c)
    book.linkTargets.push_back("Target" + std::to_string(c));
  for (int c = chapterCount; c >= 1; --c)
    book.linkTargets.push_back("Target" + std::to_string(c));

  book.html = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html><head><guide><reference "
              "type=\"toc\" title=\"Contents\" filepos=0000000040 /></guide></head><body>" +
              toc + "<mbp:pagebreak/>" + body + "</body></html>";
  return book;
}

class FinishedBook : public ::testing::Test {
protected:
  void SetUp() override { SKIP_WITHOUT("pdftotext"); }
};

TEST_F(FinishedBook, EveryLinkJumpsToThePageWhereItsTargetBegins) {
  const GeneratedBook book = MakeBook();
  WorkFolder work;
  work.Convert(book.html, {"Title", "Author"});
  const FinishedPdf pdf = ReadPdf(work.pdf);
  const auto words = WordPlaces(work.pdf);
  ASSERT_GT(pdf.pages, 4);

  const std::vector<PdfLink> jumps = Jumps(pdf);
  ASSERT_EQ(jumps.size(), book.linkTargets.size());
  bool someTargetOnALaterPage = false;
  for (std::size_t i = 0; i < jumps.size(); ++i) {
    const auto target = words.find(book.linkTargets[i]);
    ASSERT_NE(target, words.end()) << book.linkTargets[i];
    ExpectLandsOn(jumps[i].destPage, jumps[i].destTop, target->second,
                  "link " + std::to_string(i) + " to " + book.linkTargets[i]);
    someTargetOnALaterPage |= jumps[i].destPage > jumps[i].page;
  }
  EXPECT_TRUE(someTargetOnALaterPage);

  // What is not a jump is the outside link, and nothing else.
  std::vector<std::string> addresses;
  for (const PdfLink &link : pdf.links)
    if (link.destPage < 0)
      addresses.push_back(link.uri);
  EXPECT_EQ(addresses, std::vector<std::string>{"https://example.org/"});
  ExpectNoFolderTrace(pdf, work);
}

TEST_F(FinishedBook, OutlineFollowsTheContentsPageAndItsNesting) {
  const GeneratedBook book = MakeBook();
  WorkFolder work;
  work.Convert(book.html, {"Title", "Author"});
  const FinishedPdf pdf = ReadPdf(work.pdf);
  const auto words = WordPlaces(work.pdf);

  ASSERT_EQ(pdf.outline.size(), book.chapters.size());
  for (std::size_t i = 0; i < book.chapters.size(); ++i) {
    const auto &chapter = book.chapters[i];
    EXPECT_EQ(pdf.outline[i].title, chapter.title);
    EXPECT_EQ(pdf.outline[i].level, chapter.level) << chapter.title;
    const auto heading = words.find(chapter.word);
    ASSERT_NE(heading, words.end());
    ExpectLandsOn(pdf.outline[i].destPage, pdf.outline[i].destTop, heading->second, chapter.title);
  }
}

// A title and an author beyond ASCII, as the library hands them over from a
// UTF-8 book and from a Windows-1252 one, with padding spaces to trim.
// KF8 books name their places by any id: a link and the contents list reach
// an element whose id holds a space and a letter beyond ASCII.
TEST_F(FinishedBook, LinksAndTheContentsListReachElementsByAnyId) {
  const std::string id = "kf8-5 \xc3\xbc";
  const std::string html =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html><body><p><a href=\"#" + id +
      "\">ToLater</a></p>" + Paragraphs(60, 1) + "<h2 id=\"" + id + "\">LaterHeading</h2>" +
      Paragraphs(30, 2) + "<div id=\"p3-end\"><p>FinalWords</p></div>"
      "<nav id=\"bookconv-contents\" style=\"display:none\"><ol><li><a href=\"#" + id +
      "\">Later &amp; on</a><ol><li><a href=\"#p3-end\">End</a></li></ol></li></ol></nav>"
      "</body></html>";
  WorkFolder work;
  work.Convert(html, {"Title", "Author"});
  const FinishedPdf pdf = ReadPdf(work.pdf);
  const auto words = WordPlaces(work.pdf);
  const std::vector<PdfLink> jumps = Jumps(pdf);
  ASSERT_EQ(jumps.size(), 1u);
  EXPECT_GT(jumps[0].destPage, jumps[0].page);
  ExpectLandsOn(jumps[0].destPage, jumps[0].destTop, words.at("LaterHeading"), "link");
  ASSERT_EQ(pdf.outline.size(), 2u);
  EXPECT_EQ(pdf.outline[0].title, "Later & on");
  EXPECT_EQ(pdf.outline[1].level, pdf.outline[0].level + 1);
  ExpectLandsOn(pdf.outline[0].destPage, pdf.outline[0].destTop, words.at("LaterHeading"), "entry");
  ExpectLandsOn(pdf.outline[1].destPage, pdf.outline[1].destTop, words.at("FinalWords"), "child");
}

TEST_F(FinishedBook, DocumentInfoHoldsTheBooksTitleAndAuthor) {
  struct Case {
    BookDetails details;
    std::string title, author;
  };
  const Case cases[] = {
      {{"  Les Mis\xc3\xa9rables \xe2\x80\x94 Tome I ", "Victor Hugo \xe2\x80\x9cV.H.\xe2\x80\x9d"},
       "Les Mis\xc3\xa9rables \xe2\x80\x94 Tome I",
       "Victor Hugo \xe2\x80\x9cV.H.\xe2\x80\x9d"},
      {{"Na\xefve \x93" "Caf\xe9\x94 \x80 5", "Bj\xf6rk Gu\xf0mundsd\xf3ttir"},
       "Na\xc3\xafve \xe2\x80\x9c" "Caf\xc3\xa9\xe2\x80\x9d \xe2\x82\xac 5",
       "Bj\xc3\xb6rk Gu\xc3\xb0mundsd\xc3\xb3ttir"},
  };
  for (const Case &c : cases) {
    WorkFolder work;
    work.Convert(MakeBook(2).html, c.details);
    const FinishedPdf pdf = ReadPdf(work.pdf);
    EXPECT_EQ(pdf.title, c.title);
    EXPECT_EQ(pdf.author, c.author);
    ExpectNoFolderTrace(pdf, work);
  }
}

// A book with no guide: its headings make the outline, nested by level.
TEST_F(FinishedBook, OutlineFromHeadingsWhenTheBookHasNoContentsPage) {
  std::string html = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html><body>";
  const std::vector<std::pair<int, std::string>> headings = {
      {1, "Alpha"}, {2, "Bravo"}, {3, "Charlie"}, {2, "Delta"}, {1, "Echo"}, {2, "Foxtrot"}};
  for (const auto &[level, word] : headings) {
    const std::string tag = "h" + std::to_string(level);
    html += "<" + tag + ">" + word + " &amp; co</" + tag + ">" + Paragraphs(12, level);
  }
  html += "</body></html>";
  WorkFolder work;
  work.Convert(html, {});
  const FinishedPdf pdf = ReadPdf(work.pdf);
  const auto words = WordPlaces(work.pdf);

  const std::vector<int> levels = {0, 1, 2, 1, 0, 1};
  ASSERT_EQ(pdf.outline.size(), headings.size());
  for (std::size_t i = 0; i < headings.size(); ++i) {
    EXPECT_EQ(pdf.outline[i].title, headings[i].second + " & co");
    EXPECT_EQ(pdf.outline[i].level, levels[i]);
    ExpectLandsOn(pdf.outline[i].destPage, pdf.outline[i].destTop, words.at(headings[i].second),
                  headings[i].second);
  }
  // No book title: the renderer's own (empty) one stays; no path in it.
  ExpectNoFolderTrace(pdf, work);
}

const unsigned char kCoverPng[] = {
    0x89, 0x50, 0x4e, 0x47, 0x0d, 0x0a, 0x1a, 0x0a, 0x00, 0x00, 0x00, 0x0d, 0x49, 0x48, 0x44,
    0x52, 0x00, 0x00, 0x00, 0x08, 0x00, 0x00, 0x00, 0x08, 0x08, 0x02, 0x00, 0x00, 0x00, 0x4b,
    0x6d, 0x29, 0xdc, 0x00, 0x00, 0x00, 0x11, 0x49, 0x44, 0x41, 0x54, 0x78, 0x9c, 0x63, 0x38,
    0xa0, 0xa0, 0x80, 0x15, 0x31, 0x0c, 0x2d, 0x09, 0x00, 0x2a, 0x3f, 0x40, 0x01, 0x78, 0xe6,
    0xd5, 0x63, 0x00, 0x00, 0x00, 0x00, 0x49, 0x45, 0x4e, 0x44, 0xae, 0x42, 0x60, 0x82};

TEST_F(FinishedBook, CoverPageComesFirstWhenTheBookShowsNone) {
  WorkFolder work;
  std::filesystem::create_directory(work.folder + "tmpData_files");
  WriteText(work.folder + "tmpData_files/image_cover.png",
            std::string(std::begin(kCoverPng), std::end(kCoverPng)));
  const GeneratedBook book = MakeBook(2);
  work.Convert(book.html, {}, "tmpData_files/image_cover.png");
  const FinishedPdf pdf = ReadPdf(work.pdf);
  EXPECT_EQ(pdf.imagesOnFirstPage, 1);
  // The book's own first page follows the cover.
  EXPECT_EQ(WordPlaces(work.pdf).at("Contents").page, 1);
}

// ---- Through the whole converter ------------------------------------------

struct GeneratedMobi {
  testbook::BookSpec spec;
  std::vector<std::string> linkTargets; // target word of each link, in order
  std::vector<std::string> chapterTitles;
  std::vector<std::string> chapterWords;
};

GeneratedMobi MakeMobi(std::uint32_t encoding, const std::string &title,
                       const std::string &author) {
  constexpr int kChapters = 12;
  GeneratedMobi book;
  testbook::LinkedText text;
  text.Add("<html><head><guide><reference type=\"toc\" title=\"Contents\" filepos={toc} />"
           "<reference type=\"text\" title=\"Start\" filepos={c3} /></guide></head><body>")
      .Mark("toc")
      .Add("<h1>Contents</h1>");
  for (int c = 1; c <= kChapters; ++c) {
    const std::string n = std::to_string(c);
    book.chapterTitles.push_back("Chapter " + n);
    book.chapterWords.push_back("Opening" + n);
    book.linkTargets.push_back("Opening" + n);
    text.Add("<p><a filepos={c" + n + "}>Chapter " + n + "</a></p>");
  }
  text.Add("<mbp:pagebreak/>");
  for (int c = 1; c <= kChapters; ++c) {
    const std::string n = std::to_string(c);
    const std::string other = std::to_string(kChapters + 1 - c);
    text.Mark("c" + n).Add("<h2>Opening" + n + " of chapter " + n + "</h2>");
    text.Add(Paragraphs(8 + c % 5, c));
    // Every chapter refers to the mark of the chapter at the other end.
    text.Add("<p>See <a filepos={m" + other + "}>there</a>.</p>");
    book.linkTargets.push_back("Mark" + other);
    text.Add(Paragraphs(3, c + 40)).Add("<p>Before ").Mark("m" + n).Add("Mark" + n + " here.</p>");
    text.Add(Paragraphs(4, c + 80)).Add("<mbp:pagebreak/>");
  }
  text.Add("</body></html>");

  book.spec.textEncoding = encoding;
  book.spec.fullName = title;
  book.spec.exth = {{100, testbook::ToBytes(author)}, {503, testbook::ToBytes(title)}};
  book.spec.textRecords = testbook::SplitText(text.Text());
  return book;
}

// The converter, run as the program runs it.
struct Conversion {
  testbook::ScratchFolder scratch;
  std::string work = scratch.File("work") + "/";
  std::string output = scratch.File("book.pdf");

  int Run(const std::string &input) {
    std::filesystem::create_directory(work);
    testing::internal::CaptureStdout();
    const int result = ConvertBook(input.c_str(), output.c_str(), work.c_str());
    stdoutText = testing::internal::GetCapturedStdout();
    return result;
  }
  std::string stdoutText;
};

TEST_F(FinishedBook, ConvertedBookHasJumpsAnOutlineAndTheBooksInfo) {
  struct Case {
    std::uint32_t encoding;
    std::string title, author, expectedTitle, expectedAuthor;
  };
  const Case cases[] = {
      {65001, "Le Petit Prince \xe2\x80\x94 \xc3\xa9" "dition", "Antoine de Saint-Exup\xc3\xa9ry",
       "Le Petit Prince \xe2\x80\x94 \xc3\xa9" "dition", "Antoine de Saint-Exup\xc3\xa9ry"},
      {1252, "\x93Na\xefve\x94 Caf\xe9", "Jos\xe9 \x8a" "aramago",
       "\xe2\x80\x9cNa\xc3\xafve\xe2\x80\x9d Caf\xc3\xa9", "Jos\xc3\xa9 \xc5\xa0" "aramago"},
  };
  for (const Case &c : cases) {
    const GeneratedMobi book = MakeMobi(c.encoding, c.title, c.author);
    Conversion conversion;
    const std::string input = conversion.scratch.File("book.mobi");
    testbook::WriteFile(input, testbook::BuildBook(book.spec));
    ASSERT_EQ(conversion.Run(input), 0);
    EXPECT_NE(conversion.stdoutText.find("Finishing PDF\n"), std::string::npos);
    // Nothing of the finishing step stays behind.
    EXPECT_TRUE(std::filesystem::is_empty(conversion.work));

    const FinishedPdf pdf = ReadPdf(conversion.output);
    EXPECT_EQ(pdf.title, c.expectedTitle);
    EXPECT_EQ(pdf.author, c.expectedAuthor);
    const auto words = WordPlaces(conversion.output);
    const std::vector<PdfLink> jumps = Jumps(pdf);
    ASSERT_EQ(jumps.size(), book.linkTargets.size());
    EXPECT_EQ(jumps.size(), pdf.links.size());
    for (std::size_t i = 0; i < jumps.size(); ++i)
      ExpectLandsOn(jumps[i].destPage, jumps[i].destTop, words.at(book.linkTargets[i]),
                    book.linkTargets[i]);
    ASSERT_EQ(pdf.outline.size(), book.chapterTitles.size());
    for (std::size_t i = 0; i < pdf.outline.size(); ++i) {
      EXPECT_EQ(pdf.outline[i].title, book.chapterTitles[i]);
      ExpectLandsOn(pdf.outline[i].destPage, pdf.outline[i].destTop,
                    words.at(book.chapterWords[i]), book.chapterTitles[i]);
    }
    ExpectNoTrace(pdf, conversion.output, conversion.scratch.Path().filename().string());
  }
}

// A word printed in a page's bottom margin, below the text.
struct FootWord {
  std::string text;
  bool centred = false;
};

// The words each page prints in its bottom margin.
std::vector<std::vector<FootWord>> FootWords(const std::string &pdfPath) {
  const testbook::ProgramResult boxes = testbook::RunProgram({"pdftotext", "-bbox", pdfPath, "-"});
  EXPECT_EQ(boxes.status, 0) << boxes.err;
  const std::regex item(
      R"re(<page width="([^"]*)" height="([^"]*)"|<word xMin="([^"]*)" yMin="([^"]*)" xMax="([^"]*)"[^>]*>([^<]*)</word>)re");
  std::vector<std::vector<FootWord>> pages;
  double width = 0, height = 0;
  for (auto match = std::sregex_iterator(boxes.out.begin(), boxes.out.end(), item);
       match != std::sregex_iterator(); ++match) {
    if ((*match)[1].matched) {
      width = std::stod((*match)[1].str());
      height = std::stod((*match)[2].str());
      pages.emplace_back();
    } else if (std::stod((*match)[4].str()) > height - 40) {
      const double middle = (std::stod((*match)[3].str()) + std::stod((*match)[5].str())) / 2;
      pages.back().push_back({(*match)[6].str(), std::abs(middle - width / 2) < 1});
    }
  }
  return pages;
}

// How many pages after the first print their number, alone, centred in the
// bottom margin.
std::size_t NumberedPagesAfterTheFirst(const std::vector<std::vector<FootWord>> &pages) {
  std::size_t numbered = 0;
  for (std::size_t i = 1; i < pages.size(); ++i)
    numbered +=
        pages[i].size() == 1 && pages[i][0].text == std::to_string(i + 1) && pages[i][0].centred;
  return numbered;
}

std::string CatalogName(QPDF &pdf, const std::string &key) {
  Handle value = pdf.getRoot().getKey(key);
  return value.isString() ? value.getUTF8Value() : value.isName() ? value.getName() : std::string();
}

// A book that says where reading starts, in which language, by whom it was
// published and more, with a cover: the PDF opens at the start, states the
// facts in its catalog, document information and XMP, and numbers every page
// but the cover. A fixed-layout edition of it carries no numbers.
TEST_F(FinishedBook, ConvertedBookOpensAtItsStartWithItsFactsAndPageNumbers) {
  GeneratedMobi book = MakeMobi(65001, "Vol de nuit", "Antoine de Saint-Exup\xc3\xa9ry");
  const auto text = [](const std::string &value) { return testbook::ToBytes(value); };
  const std::string publisher = "\xc3\x89"
                                "ditions <Gallimard> & Fils";
  book.spec.exth.insert(book.spec.exth.end(),
                        {{524, text("fr")},
                         {101, text(publisher)},
                         {103, text("<p>Un courrier de nuit \xe2\x80\x94 "
                                    "\xe5\xa4\x9c\xe9\x96\x93\xe9\xa3\x9b\xe8\xa1\x8c.</p>")},
                         {104, text("9782070360024")},
                         {105, text("Aviation")},
                         {105, text("Romans")},
                         {106, text("1931-10-01")},
                         {201, testbook::U32(0)}});
  book.spec.imageRecords = {testbook::Bytes(std::begin(kCoverPng), std::end(kCoverPng))};
  for (const bool fixedLayout : {false, true}) {
    if (fixedLayout)
      book.spec.exth.push_back({122, text("true")});
    Conversion conversion;
    const std::string input = conversion.scratch.File("book.mobi");
    testbook::WriteFile(input, testbook::BuildBook(book.spec));
    ASSERT_EQ(conversion.Run(input), 0);
    const std::vector<std::vector<FootWord>> foot = FootWords(conversion.output);
    ASSERT_GT(foot.size(), 5u);
    QPDF pdf;
    pdf.processFile(conversion.output.c_str());
    if (fixedLayout) {
      for (const auto &page : foot)
        EXPECT_TRUE(page.empty()) << page.front().text;
      EXPECT_FALSE(pdf.getRoot().hasKey("/PageLabels"));
      continue;
    }
    EXPECT_TRUE(foot[0].empty()) << "the cover carries " << foot[0].front().text;
    EXPECT_EQ(NumberedPagesAfterTheFirst(foot), foot.size() - 1);
    EXPECT_EQ(pdf.getRoot().getKey("/PageLabels").unparse(), "<< /Nums [ 0 << /S /D >> ] >>");

    EXPECT_EQ(CatalogName(pdf, "/Lang"), "fr");
    EXPECT_TRUE(
        pdf.getRoot().getKey("/ViewerPreferences").getKey("/DisplayDocTitle").getBoolValue());
    std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
    Handle open = pdf.getRoot().getKey("/OpenAction");
    ASSERT_TRUE(open.isArray());
    const auto startPage = std::find_if(pages.begin(), pages.end(), [&](QPDFPageObjectHelper page) {
      return page.getObjectHandle().getObjGen() == open.getArrayItem(0).getObjGen();
    });
    const double startTop = startPage->getAttribute("/MediaBox", false).getArrayAsRectangle().ury -
                            open.getArrayItem(3).getNumericValue();
    ExpectLandsOn(static_cast<int>(startPage - pages.begin()), startTop,
                  WordPlaces(conversion.output).at("Opening3"), "start");

    Handle info = pdf.getTrailer().getKey("/Info");
    const std::string description =
        "Un courrier de nuit \xe2\x80\x94 \xe5\xa4\x9c\xe9\x96\x93\xe9\xa3\x9b\xe8\xa1\x8c.";
    EXPECT_EQ(info.getKey("/Title").getUTF8Value(), "Vol de nuit");
    EXPECT_EQ(info.getKey("/Subject").getUTF8Value(), description);
    EXPECT_EQ(info.getKey("/Keywords").getUTF8Value(), "Aviation; Romans");
    const auto stream = pdf.getRoot().getKey("/Metadata").getStreamData();
    const std::string xmp(reinterpret_cast<const char *>(stream->getBuffer()), stream->getSize());
    const std::vector<std::string> expectations = {
        "<rdf:li xml:lang=\"x-default\">Vol de nuit</rdf:li>",
        "<rdf:li>Antoine de Saint-Exup\xc3\xa9ry</rdf:li>",
        "<dc:publisher><rdf:Bag><rdf:li>\xc3\x89"
        "ditions &lt;Gallimard&gt; &amp; Fils</rdf:li>",
        "<rdf:li xml:lang=\"x-default\">" + description + "</rdf:li>",
        "<dc:language><rdf:Bag><rdf:li>fr</rdf:li></rdf:Bag></dc:language>",
        "<dc:identifier>urn:isbn:9782070360024</dc:identifier>",
        "<dc:date><rdf:Seq><rdf:li>1931-10-01</rdf:li></rdf:Seq></dc:date>",
        "<rdf:Bag><rdf:li>Aviation</rdf:li><rdf:li>Romans</rdf:li></rdf:Bag>",
        "<pdf:Keywords>Aviation; Romans</pdf:Keywords>"};
    for (const std::string &expected : expectations)
      EXPECT_NE(xmp.find(expected), std::string::npos) << expected << " in\n" << xmp;
    // The book states no ASIN, and nothing stands in for it.
    EXPECT_EQ(xmp.find("ASIN"), std::string::npos) << xmp;
  }
}

// The letters of `text` in lower case and nothing else, so that a heading set
// in small capitals or followed by a note number still reads as its title.
std::string Letters(const std::string &text) {
  std::string letters;
  for (char c : text)
    if (std::isalpha(static_cast<unsigned char>(c)))
      letters += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return letters;
}

// The letters of each page of the PDF.
std::vector<std::string> PageLetters(const std::string &pdfPath) {
  const testbook::ProgramResult text = testbook::RunProgram({"pdftotext", pdfPath, "-"});
  std::vector<std::string> pages;
  std::istringstream pageTexts(text.out);
  for (std::string page; std::getline(pageTexts, page, '\f');)
    pages.push_back(Letters(page));
  return pages;
}

// Real books: every link is a jump or an outside address, and the outline is
// the book's own contents, each entry on a page that prints its title.
TEST_F(FinishedBook, CorpusBooksGetJumpsAndTheirContentsAsOutline) {
  SKIP_WITHOUT_CORPUS();
  struct Case {
    std::string book;
    std::vector<std::pair<std::string, int>> firstEntries; // title and level
  };
  const Case cases[] = {
      {"none-calibre-epictetus.mobi",
       // Its contents index lists every entry at the top level.
       {{"Titlepage", 0}, {"Imprint", 0}, {"The Enchiridion", 0}, {"I", 0}, {"II", 0}}},
      {"palmdoc-gutenberg-hound-kindlegen29.mobi",
       {{"THE HOUND OF THE BASKERVILLES", 0},
        {"Contents", 0},
        {"Chapter 1. Mr. Sherlock Holmes", 0}}},
  };
  for (const Case &c : cases) {
    Conversion conversion;
    ASSERT_EQ(conversion.Run((testbook::CorpusFolder() / c.book).string()), 0) << c.book;
    const FinishedPdf pdf = ReadPdf(conversion.output);
    EXPECT_FALSE(pdf.title.empty());
    EXPECT_GT(Jumps(pdf).size(), 10u) << c.book;
    for (const PdfLink &link : pdf.links)
      EXPECT_TRUE(link.destPage >= 0 || link.uri.rfind("http:", 0) == 0 ||
                  link.uri.rfind("https:", 0) == 0 || link.uri.rfind("mailto:", 0) == 0)
          << c.book << ": " << link.uri;

    ASSERT_GE(pdf.outline.size(), c.firstEntries.size()) << c.book;
    for (std::size_t i = 0; i < c.firstEntries.size(); ++i) {
      EXPECT_EQ(pdf.outline[i].title, c.firstEntries[i].first) << c.book;
      EXPECT_EQ(pdf.outline[i].level, c.firstEntries[i].second) << c.book;
    }
    // An entry whose title of several words the book prints more than once
    // (in the contents and at its place) lands on a page that prints it.
    // Single words are left out: they turn up in running text too.
    const std::vector<std::string> pages = PageLetters(conversion.output);
    for (const OutlineItem &item : pdf.outline) {
      ASSERT_GE(item.destPage, 0) << item.title;
      ASSERT_LT(static_cast<std::size_t>(item.destPage), pages.size()) << item.title;
      const std::string title = Letters(item.title);
      const auto printed = std::count_if(pages.begin(), pages.end(), [&](const std::string &page) {
        return page.find(title) != std::string::npos;
      });
      if (item.title.find(' ') != std::string::npos && printed >= 2) {
        EXPECT_NE(pages[item.destPage].find(title), std::string::npos)
            << c.book << ": " << item.title;
      }
    }
    // Nine pages in ten after the first carry their number; the book's
    // language and an open action are in the catalog.
    const auto foot = FootWords(conversion.output);
    EXPECT_GE(NumberedPagesAfterTheFirst(foot) * 10, (foot.size() - 1) * 9) << c.book;
    QPDF finished;
    finished.processFile(conversion.output.c_str());
    EXPECT_EQ(CatalogName(finished, "/Lang"), "en") << c.book;
    EXPECT_TRUE(finished.getRoot().getKey("/OpenAction").isArray()) << c.book;
    ExpectNoTrace(pdf, conversion.output, conversion.scratch.Path().filename().string());
  }
}

} // namespace
