#include "sample_books.h"

#include "text_encoder.h"

namespace testbook {

const char kSampleMarkup[] =
    "<html><head><guide><reference type=\"toc\" filepos=0000000060 /></guide></head><body>"
    "<p>Chapter <a filepos=00000120>one</a> and <a FILEPOS='7'>seven</a>.</p>"
    "<img recindex=\"00001\" alt=x><img recindex='2'><p height=\"1em\">End<mbp:pagebreak/>"
    "<image src=cover.jpg></body></html>";

Bytes TinyGif() {
  return ToBytes(std::string("GIF89a\x01\x00\x01\x00\x80\x00\x00\x00\x00\x00;", 17));
}

namespace {

// Pictures, a cover, an author and the records a book carries besides them.
void Furnish(BookSpec &spec) {
  spec.imageRecords = {TinyGif(), ToBytes("\xFF\xD8\xFF\xE0 not really a jpeg"),
                       ToBytes(std::string("FLIS\0\0\0\x08", 8))};
  spec.exth = {{100, ToBytes("Author, An")}, {201, Bytes{0, 0, 0, 0}}, {101, ToBytes("Pub")}};
  spec.tailRecords = {ToBytes(std::string("FCIS\0\0\0\x14", 8)), Bytes{0xE9, 0x8E, 0x0D, 0x0A}};
}

SampleBook Compressed(const std::string &name, std::uint16_t compression,
                      std::uint16_t recordSize) {
  BookSpec spec = TextBook(kSampleMarkup + SampleText(9000), compression, 0x0003, recordSize);
  spec.mobiHeaderLength = 264;
  Furnish(spec);
  return {name, BuildBook(spec)};
}

} // namespace

Kf8Book SampleKf8Book() {
  const std::string head = "<html><head><link rel=\"stylesheet\" type=\"text/css\" "
                           "href=\"kindle:flow:0001?mime=text/css\"/></head>";
  const std::string one = head + "<body aid=\"0\"><div aid=\"1\"></div></body></html>";
  const std::string two =
      head + "<body aid=\"2\"><div aid=\"3\"></div><p>The end.</p></body></html>";
  Kf8Book book;
  book.compression = 2;
  book.extraDataFlags = 0x0003;
  book.flow0.Add(
      one,
      {{one.find("</div>"),
        "<h1 class=\"part\">Part One</h1><p>On to <a href=\"" + Kf8FlowBuilder::Placeholder('0') +
            "\">the section</a>.</p>"
            "<p><img src=\"kindle:embed:0001?mime=image/jpeg\" alt=\"photo\"/></p>"}});
  book.flow0.Add(two, {{two.find("</div>"),
                        "<h1 class=\"part\">Part Two</h1><p class=\"decoy\">Not here.</p>"},
                       {two.find("</div>"), "<h2 class=\"section\">Section 2.1</h2>"
                                            "<p class=\"opening\">Reading starts here.</p>"}});
  const std::uint32_t section = book.flow0.PositionOf(1, "<h2");
  book.flow0.FillLinks({section});
  book.flows = {"h1.part { color: #336699 }"};
  book.contents = {{"Part One", 0, std::nullopt, book.flow0.PositionOf(0, "<h1")},
                   {"Part Two", 0, std::nullopt, book.flow0.PositionOf(1, "<h1")},
                   {"Section 2.1", 1, 1, section}};
  book.exth = {{116, U32(book.flow0.PositionOf(1, "<p class=\"decoy\""))},
               {116, U32(book.flow0.PositionOf(1, "<p class=\"opening\""))}};
  book.resources = {ReadFile(BOOKCONV_TEST_DATA_DIR "/images/photo.jpg")};
  return book;
}

std::vector<SampleBook> SampleBooks() {
  BookSpec plain;
  plain.textRecords = SplitText(std::string(kSampleMarkup) + std::string(300, 'x'), 128);
  Furnish(plain);

  BookSpec bare;
  bare.fullName = "";
  bare.textRecords = {ToBytes("<p>no pictures</p>")};

  // Both renditions in one book, the KF8 one in HUFF/CDIC; and KF8 alone.
  HybridSpec hybrid;
  hybrid.mobi6 = plain;
  hybrid.kf8 = TextBook(SampleText(5000), 17480, 0x0003);
  hybrid.kf8.fileVersion = 8;
  hybrid.kf8.mobiHeaderLength = 264;
  hybrid.kf8.skeletonIndex = 3;
  BookSpec kf8 = Kf8Spec({ToBytes("<html><body aid=\"0\">kf8</body></html>")});
  kf8.imageRecords = {TinyGif()};
  const Kf8Book rendition = SampleKf8Book();

  return {{"written-plain", BuildBook(plain)},
          {"written-bare", BuildBook(bare)},
          Compressed("written-palmdoc", 2, 4096),
          Compressed("written-huff", 17480, 1024),
          {"written-hybrid", BuildHybrid(hybrid)},
          {"written-kf8", BuildBook(kf8)},
          {"written-kf8-rendition", BuildBook(Kf8BookSpec(rendition))},
          {"written-hybrid-rendition", BuildHybrid(Kf8HybridSpec(rendition, kSampleMarkup))}};
}

} // namespace testbook
