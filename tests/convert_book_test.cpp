// The pipeline and the program: every exit code from a real situation, the
// working folder left as found, and real books converted end to end.
#include "convert_book.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "huff_encoder.h"
#include "linked_text.h"
#include "mobi_writer.h"
#include "pdf_tools.h"
#include "tarn_mobi.h"
#include "test_files.h"

namespace {

namespace fs = std::filesystem;
using testbook::Bytes;
using testbook::ScratchFolder;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

const fs::path kImages = BOOKCONV_TEST_DATA_DIR "/images";

struct Outcome {
  int result = -1;
  std::string out, err;
};

Outcome Convert(const std::string &input, const std::string &output, const std::string &work) {
  CaptureStdout();
  CaptureStderr();
  Outcome outcome;
  outcome.result = ConvertBook(input.c_str(), output.c_str(), work.c_str());
  outcome.err = GetCapturedStderr();
  outcome.out = GetCapturedStdout();
  return outcome;
}

// Every entry under `folder` with its content ("<dir>" for a folder).
std::map<std::string, Bytes> Snapshot(const fs::path &folder) {
  std::map<std::string, Bytes> entries;
  for (const auto &entry : fs::recursive_directory_iterator(folder)) {
    const std::string name = fs::relative(entry.path(), folder).string();
    entries[name] = entry.is_directory() ? testbook::ToBytes("<dir>")
                                         : testbook::ReadFile(entry.path().string());
  }
  return entries;
}

std::vector<std::string> ErrorLines(const std::string &err) {
  std::vector<std::string> lines;
  std::size_t at = 0;
  while ((at = err.find("Error: ", at)) != std::string::npos) {
    const std::size_t end = err.find('\n', at);
    lines.push_back(err.substr(at, end - at));
    at = end == std::string::npos ? err.size() : end;
  }
  return lines;
}

// The pipeline's own error line is the last one and names `cause`.
void ExpectErrorNaming(const Outcome &outcome, const std::string &cause) {
  const auto lines = ErrorLines(outcome.err);
  ASSERT_FALSE(lines.empty()) << outcome.err;
  EXPECT_NE(lines.back().find(cause), std::string::npos) << outcome.err;
  EXPECT_TRUE(outcome.err.ends_with("\n")) << outcome.err;
}

Bytes Fixture(const char *name) { return testbook::ReadFile((kImages / name).string()); }

// A small illustrated book: a linked contents list, two chapters and three
// pictures (JPEG, GIF, PNG).
Bytes IllustratedBook() {
  testbook::LinkedText text;
  text.Add("<html><head></head><body><p>")
      .Link("one", "Chapter one")
      .Add("</p><p>")
      .Link("two", "Chapter two")
      .Add("</p><mbp:pagebreak/>")
      .Mark("one")
      .Add("<h1>Chapter one</h1><p>Lighthouse keepers polish brass lanterns.</p>"
           "<img recindex=\"00001\"/><img recindex=\"00002\"/><mbp:pagebreak/>")
      .Mark("two")
      .Add("<h1>Chapter two</h1><p>Harbour pilots whistle cheerful shanties.</p>"
           "<img recindex=\"00003\"/></body></html>");
  testbook::BookSpec spec;
  spec.textRecords = testbook::SplitText(text.Text(), 256);
  spec.imageRecords = {Fixture("photo.jpg"), Fixture("interlaced.gif"), Fixture("alpha.png")};
  return testbook::BuildBook(spec);
}

// A scratch folder holding a book, an output folder and a working folder with
// one file of the user's in it.
struct BookInFolders {
  explicit BookInFolders(const Bytes &book) {
    testbook::WriteFile(input, book);
    fs::create_directories(outFolder);
    fs::create_directories(work);
    testbook::WriteFile(work + "/mine.txt", testbook::ToBytes("the user's own file"));
  }
  ScratchFolder scratch;
  std::string input = scratch.File("in book.mobi");
  std::string outFolder = scratch.File("out");
  std::string output = outFolder + "/book.pdf";
  std::string work = scratch.File("work");
};

TEST(ConvertBookChecks, InputIsCheckedFirst) {
  ScratchFolder scratch;
  const Outcome outcome = Convert(scratch.File("missing.mobi"), "/nonexistent/out.pdf",
                                  scratch.File("no-work/"));
  EXPECT_EQ(outcome.result, kInputMissing);
  ExpectErrorNaming(outcome, "missing.mobi");
  EXPECT_EQ(ErrorLines(outcome.err).size(), 1u);
}

TEST(ConvertBookChecks, OutputFolderIsCheckedSecond) {
  BookInFolders setup(IllustratedBook());
  const Outcome missing = Convert(setup.input, setup.scratch.File("nowhere/book.pdf"),
                                  setup.scratch.File("no-work/"));
  EXPECT_EQ(missing.result, kOutputFolderMissing);
  ExpectErrorNaming(missing, "nowhere/book.pdf");
  // A bare file name names no folder.
  EXPECT_EQ(Convert(setup.input, "book.pdf", setup.work + "/").result, kOutputFolderMissing);
  EXPECT_FALSE(fs::exists("book.pdf"));
}

TEST(ConvertBookChecks, WorkingFolderIsCheckedThird) {
  BookInFolders setup(IllustratedBook());
  const Outcome missing = Convert(setup.input, setup.output, setup.scratch.File("no-work/"));
  EXPECT_EQ(missing.result, kWorkFolderMissing);
  ExpectErrorNaming(missing, "no-work");
  // A file is not a folder.
  EXPECT_EQ(Convert(setup.input, setup.output, setup.work + "/mine.txt").result,
            kWorkFolderMissing);
  EXPECT_EQ(Convert(setup.input, setup.output, "").result, kWorkFolderMissing);
  EXPECT_FALSE(fs::exists(setup.output));
}

TEST(ConvertBookChecks, TemporaryNamesAlreadyInUseAreNotTouched) {
  BookInFolders setup(IllustratedBook());
  testbook::WriteFile(setup.work + "/tmpData.htm", testbook::ToBytes("someone's page"));
  const auto before = Snapshot(setup.work);
  const Outcome outcome = Convert(setup.input, setup.output, setup.work + "/");
  EXPECT_EQ(outcome.result, kWorkFolderMissing);
  ExpectErrorNaming(outcome, "tmpData.htm");
  EXPECT_EQ(Snapshot(setup.work), before);
}

// Converts the book of `spec`; it must fail with `code` and one error line
// naming `cause`, write no PDF and leave the working folder as it was.
void ExpectRefusedBook(const testbook::BookSpec &spec, int code, const std::string &cause) {
  BookInFolders setup(testbook::BuildBook(spec));
  const auto before = Snapshot(setup.work);
  const Outcome outcome = Convert(setup.input, setup.output, setup.work + "/");
  EXPECT_EQ(outcome.result, code);
  ExpectErrorNaming(outcome, cause);
  EXPECT_EQ(ErrorLines(outcome.err).size(), 1u);
  EXPECT_EQ(Snapshot(setup.work), before);
  EXPECT_FALSE(fs::exists(setup.output));
}

TEST(ConvertBookFailures, NotAMobiBookExitsFourAndLeavesTheFolder) {
  testbook::BookSpec spec;
  spec.typeCreator = "TEXtREAd";
  spec.textRecords = testbook::SplitText("<p>plain PalmDOC text</p>");
  ExpectRefusedBook(spec, kNotABook, "not a BOOKMOBI");
}

TEST(ConvertBookFailures, EncryptedBookExitsFiveAndLeavesTheFolder) {
  testbook::BookSpec spec;
  spec.compression = 2;
  spec.encryption = 2;
  spec.textRecords = testbook::SplitText("scrambled");
  ExpectRefusedBook(spec, kNotUnpacked, "encrypted");
}

TEST(ConvertBookFailures, DamagedHuffDictionaryExitsFiveAndLeavesTheFolder) {
  const std::string text = "<p>Words the damaged dictionary can no longer spell.</p>";
  const testbook::HuffEncoder encoder({}, {text});
  testbook::BookSpec spec;
  spec.compression = 17480;
  spec.huffRecords = encoder.Records();
  spec.textRecords = {encoder.Encode(text)};
  spec.tailRecords = {Bytes{0xE9, 0x8E, '\r', '\n'}}; // the HUFF/CDIC range needs a record after it
  Bytes &cdic = spec.huffRecords[1];
  // Entry offsets that leave the record fail the first record as it decodes;
  // an impossible index width fails the dictionary before any text.
  std::fill(cdic.begin() + 16, cdic.begin() + 16 + 2 * 256, 0xFF);
  ExpectRefusedBook(spec, kNotUnpacked, "HUFF/CDIC");
  spec.huffRecords = encoder.Records();
  testbook::PutU32BE(spec.huffRecords[1], 12, 40);
  ExpectRefusedBook(spec, kNotUnpacked, "HUFF/CDIC");
}

// The finished PDF is written once, straight to the output; when that fails,
// the exit is 3 with one Error line, nothing is left in the working folder,
// and a device given as the output stays in place.
TEST(ConvertBookFailures, AnOutputThatCannotBeWrittenExitsThree) {
  if (!fs::exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full on this system";
  BookInFolders setup(IllustratedBook());
  const auto before = Snapshot(setup.work);
  const Outcome outcome = Convert(setup.input, "/dev/full", setup.work);
  EXPECT_EQ(outcome.result, kOutputFolderMissing);
  ExpectErrorNaming(outcome, "cannot write the PDF to /dev/full");
  EXPECT_EQ(ErrorLines(outcome.err).size(), 1u) << outcome.err;
  EXPECT_EQ(Snapshot(setup.work), before);
  EXPECT_TRUE(fs::is_character_file("/dev/full"));
}

TEST(ConvertBook, IllustratedBookBecomesAPdfWithItsWordsAndPictures) {
  BookInFolders setup(IllustratedBook());
  const auto before = Snapshot(setup.work);
  const Outcome outcome = Convert(setup.input, setup.output, setup.work);
  ASSERT_EQ(outcome.result, kConverted) << outcome.err;
  EXPECT_TRUE(ErrorLines(outcome.err).empty()) << outcome.err;
  EXPECT_NE(outcome.out.find("httpErrorCode: 0\n"), std::string::npos);
  ASSERT_TRUE(testbook::IsPdf(setup.output));
  const std::string text = testbook::PdfText(setup.output);
  for (const char *words : {"Lighthouse keepers polish brass lanterns.",
                            "Harbour pilots whistle cheerful shanties.", "Chapter two"})
    EXPECT_NE(text.find(words), std::string::npos) << words << " in\n" << text;
  EXPECT_EQ(testbook::PdfPictureCount(setup.output), 3u);
  EXPECT_EQ(Snapshot(setup.work), before);
}

TEST(CopyBinaryFile, CopiesEveryByte) {
  ScratchFolder scratch;
  Bytes bytes(1000);
  for (std::size_t i = 0; i < bytes.size(); ++i)
    bytes[i] = static_cast<std::uint8_t>(i * 7);
  testbook::WriteFile(scratch.File("from"), bytes);
  EXPECT_EQ(CopyBinaryFile(scratch.File("from").c_str(), scratch.File("to").c_str()), 0);
  EXPECT_EQ(testbook::ReadFile(scratch.File("to")), bytes);
  EXPECT_EQ(CopyBinaryFile(scratch.File("none").c_str(), scratch.File("to2").c_str()), 2);
  EXPECT_FALSE(fs::exists(scratch.File("to2")));
  EXPECT_EQ(CopyBinaryFile(scratch.File("from").c_str(), scratch.File("no/to").c_str()), 3);
}

TEST(CopyBinaryFile, ShortWriteIsReported) {
  if (!fs::exists("/dev/full"))
    GTEST_SKIP() << "no /dev/full on this system";
  ScratchFolder scratch;
  testbook::WriteFile(scratch.File("from"), Bytes(5000, 'x'));
  CaptureStderr();
  const int result = CopyBinaryFile(scratch.File("from").c_str(), "/dev/full");
  const int cause = errno;
  EXPECT_EQ(GetCapturedStderr(), "") << "the caller prints the one Error line";
  EXPECT_EQ(result, 4);
  EXPECT_EQ(cause, ENOSPC);
}

// --- The program itself ------------------------------------------------------

testbook::ProgramResult Bookconv(std::vector<std::string> arguments) {
  arguments.insert(arguments.begin(), BOOKCONV_PROGRAM);
  return testbook::RunProgram(arguments);
}

TEST(BookconvProgram, FewerThanThreeArgumentsIsAUsageError) {
  for (const auto &arguments : std::vector<std::vector<std::string>>{{}, {"a"}, {"a", "b"}}) {
    const auto run = Bookconv(arguments);
    EXPECT_EQ(run.status, kUsage);
    EXPECT_TRUE(run.err.starts_with("usage: bookconv ")) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1);
  }
}

TEST(BookconvProgram, ConvertsAndIgnoresAFourthArgument) {
  BookInFolders setup(IllustratedBook());
  const auto before = Snapshot(setup.work);
  const auto run = Bookconv({setup.input, setup.output, setup.work + "/", "--ignored"});
  EXPECT_EQ(run.status, kConverted) << run.err;
  EXPECT_TRUE(testbook::IsPdf(setup.output));
  EXPECT_EQ(Snapshot(setup.work), before);
  EXPECT_EQ(Bookconv({setup.scratch.File("none.mobi"), setup.output, setup.work}).status,
            kInputMissing);
}

} // namespace
