#include "convert_book.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "book_fonts.h"
#include "finishing_step.h"
#include "fixed_layout.h"
#include "fixed_layout_plan.h"
#include "fixed_pdf.h"
#include "folder_images.h"
#include "html_stage.h"
#include "interruption.h"
#include "render_pdf.h"
#include "tarn_mobi.h"
#include "common/whole_file.h"

namespace {

// The temporary names inside the working folder.
struct WorkFiles {
  explicit WorkFiles(std::string workFolder)
      : folder(std::move(workFolder)), book(folder + "tmpData.mobi"), html(folder + "tmpData.htm"),
        images(folder + "tmpData_files"), pieces(folder + "tmpData_pieces"),
        cookieJar(folder + "myjar.jar") {}

  // The first temporary name already in use by something the run would
  // overwrite or remove: a file (or link) at a file's name, or anything at the
  // folders' names. A folder at a file's name is left alone; the step that
  // needs that name then fails.
  std::optional<std::string> FirstTaken() const {
    struct stat status;
    for (const std::string *path : {&book, &html, &cookieJar})
      if (lstat(path->c_str(), &status) == 0 && !S_ISDIR(status.st_mode))
        return *path;
    for (const std::string *path : {&images, &pieces})
      if (lstat(path->c_str(), &status) == 0)
        return *path;
    return std::nullopt;
  }

  std::string folder, book, html, images, pieces, cookieJar;
};

__attribute__((format(printf, 1, 2))) void PrintError(const char *format, ...) {
  std::fputs("Error: ", stderr);
  va_list arguments;
  va_start(arguments, format);
  std::vfprintf(stderr, format, arguments);
  va_end(arguments);
  std::fputc('\n', stderr);
}

bool Exists(const std::string &path) { return access(path.c_str(), F_OK) == 0; }

bool IsFolder(const char *path) {
  struct stat status;
  return stat(path, &status) == 0 && S_ISDIR(status.st_mode);
}

// The output path up to and including its last "/"; empty when it has none.
std::string OutputFolder(const std::string &output) {
  const std::size_t slash = output.rfind('/');
  return slash == std::string::npos ? std::string() : output.substr(0, slash + 1);
}

std::string WithFinalSlash(std::string folder) {
  if (folder.back() != '/')
    folder += '/';
  return folder;
}

const char *InitFailure(int result) {
  switch (result) {
  case MOBI_ERR_OPEN:
    return "it cannot be opened";
  case MOBI_ERR_NOT_MOBI:
    return "it is not a BOOKMOBI Palm database";
  case MOBI_ERR_INTERNAL:
    return "the library failed inside";
  default:
    return "the library refused it";
  }
}

const char *UnpackFailure(int result) {
  switch (result) {
  case MOBI_ERR_OPEN:
    return "the HTML file could not be created";
  case MOBI_ERR_WRITE:
    return "writing the HTML file failed";
  case MOBI_ERR_NO_FOLDER:
    return "the working folder went missing";
  case MOBI_ERR_COMPRESSION:
    return "its text compression is not supported";
  case MOBI_ERR_RECORD_SIZE:
    return "its text record size is 0";
  case MOBI_ERR_ENCRYPTED:
    return "it is encrypted (DRM), or its HUFF/CDIC dictionary or text is damaged";
  case MOBI_ERR_KF8:
    return "it is in the newer Kindle format (KF8), and its KF8 rendition is damaged";
  case MOBI_ERR_INTERNAL:
    return "the library failed inside";
  case MOBI_ERR_RESOURCE:
    return "a picture or font could not be written in the working folder";
  case MOBI_ERR_TEXT_SIZE:
    return "its text decodes to more than any book holds (the book is damaged)";
  default:
    return "the library refused it";
  }
}

// Takes a text the library handed over, and frees it.
std::string TakeText(char *text) {
  std::string copy = text != nullptr ? text : "";
  std::free(text);
  return copy;
}

std::string Fact(MobiService *service, const char *name) {
  return TakeText(service->GetMetadata(service->data, name));
}

fixedlayout::LayoutFacts ReadLayoutFacts(MobiService *service) {
  return fixedlayout::ReadLayoutFacts(
      Fact(service, "fixed-layout"), Fact(service, "original-resolution"),
      Fact(service, "page-progression-direction"), Fact(service, "primary-writing-mode"));
}

// The lines of a fact the library joins with newlines.
std::vector<std::string> FactLines(MobiService *service, const char *name) {
  std::vector<std::string> lines;
  const std::string text = Fact(service, name);
  for (std::size_t from = 0; from < text.size();) {
    const std::size_t end = std::min(text.find('\n', from), text.size());
    lines.push_back(text.substr(from, end - from));
    from = end + 1;
  }
  return lines;
}

// What the program needs to know of the book, read before ClearUp.
struct BookFacts {
  fixedlayout::LayoutFacts layout;
  finishing::BookDetails details;
  stage::StageFacts stage;
};

// The cover's name when its file was written beside the HTML file.
std::string WrittenCover(const WorkFiles &files, std::string name) {
  std::error_code error;
  return !name.empty() && std::filesystem::is_regular_file(files.folder + name, error) ? name : "";
}

BookFacts ReadBookFacts(MobiService *service, const WorkFiles &files) {
  BookFacts book;
  const fixedlayout::LayoutFacts &layout = book.layout = ReadLayoutFacts(service);
  finishing::BookDetails &details = book.details;
  details.title = TakeText(service->GetTitle(service->data));
  details.author = TakeText(service->GetAuthor(service->data));
  details.fixedLayout = layout.fixed;
  // A reflowable book's reading direction stays the viewer's choice.
  details.rightToLeft = layout.fixed && layout.rightToLeft;
  details.facts.languages = FactLines(service, "language");
  details.facts.publisher = Fact(service, "publisher");
  details.facts.description = Fact(service, "description");
  details.facts.date = Fact(service, "date");
  details.facts.isbn = Fact(service, "isbn");
  details.facts.asin = Fact(service, "asin");
  details.facts.subjects = FactLines(service, "subject");
  details.facts.startId = Fact(service, "start");
  book.stage.cover = {WrittenCover(files, TakeText(service->GetCoverImageName(service->data))),
                      FactLines(service, "cover-copies")};
  book.stage.startId = details.facts.startId;
  book.stage.dictionary = Fact(service, "dictionary") == "true";
  return book;
}

// Unpacks the copy of the book into the HTML file and the image folder.
int Unpack(const WorkFiles &files, const char *input, BookFacts &facts) {
  MobiService *service = CreateMobiService();
  if (service == nullptr) {
    PrintError("out of memory: the book reader could not be started");
    return kOutOfMemory;
  }
  int result = kConverted;
  const int opened = service->Init(service->data, files.book.c_str());
  if (opened == MOBI_ERR_MEMORY) {
    PrintError("out of memory while opening %s", input);
    result = kOutOfMemory;
  } else if (opened != MOBI_OK) {
    PrintError("%s is not a MOBI book that can be opened: %s", input, InitFailure(opened));
    result = kNotABook;
  } else {
    const int unpacked = service->MobiToHtml(service->data, files.html.c_str());
    if (unpacked == MOBI_ERR_ENCODING) {
      std::fputs("Warning: the book declares a text encoding other than Windows-1252 or UTF-8\n",
                 stderr);
    } else if (unpacked == MOBI_ERR_MEMORY) {
      PrintError("out of memory while unpacking %s", input);
      result = kOutOfMemory;
    } else if (unpacked != MOBI_OK) {
      PrintError("%s could not be unpacked: %s", input, UnpackFailure(unpacked));
      result = kNotUnpacked;
    }
    if (result == kConverted)
      facts = ReadBookFacts(service, files);
  }
  service->ClearUp(service->data);
  FreeMobiService(service);
  return result;
}

// Every temporary file goes, whatever stage the run reached; unlink leaves a
// folder that stood at a file's name where it was.
void RemoveTemporaries(const WorkFiles &files) {
  unlink(files.book.c_str());
  for (const std::string *folder : {&files.images, &files.pieces}) {
    ClearFolder(*folder, 1);
    rmdir(folder->c_str());
  }
  unlink(files.html.c_str());
  unlink(files.cookieJar.c_str());
}

int CopyBookIn(const WorkFiles &files, const char *input) {
  switch (CopyBinaryFile(input, files.book.c_str())) {
  case 0:
    return kConverted;
  case 2:
    PrintError("the input book %s cannot be read: %s", input, std::strerror(errno));
    return kInputMissing;
  default:
    PrintError("cannot write %s in the working folder: %s", files.book.c_str(),
               std::strerror(errno));
    return kWorkFolderMissing;
  }
}

// The base every piece gets, to find the pictures from its own folder.
constexpr std::string_view kPieceBase = "<base href=\"../\"/>";

int PiecesFailure(const char *input) {
  PrintError("the pages of %s could not be written in the working folder", input);
  return kRenderingFailed;
}

// The library's HTML, read once, and the folder for the pieces.
std::optional<std::string> TakeHtml(const WorkFiles &files) {
  std::optional<std::string> html = textutil::ReadWholeFile(files.html);
  if (!html || mkdir(files.pieces.c_str(), 0700) != 0)
    return std::nullopt;
  return html;
}

// Writes each piece into the pieces' folder, where it finds the pictures
// through its base address.
std::optional<std::vector<RenderJob>> WritePieces(const WorkFiles &files,
                                                  const std::vector<std::string> &pieces) {
  std::vector<RenderJob> jobs;
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    const std::string stem = files.pieces + "/piece_" + std::to_string(i + 1);
    if (!textutil::WriteWholeFile(stem + ".htm", pieces[i]))
      return std::nullopt;
    jobs.push_back({stem + ".htm", stem + ".pdf", pieces[i].size()});
  }
  return jobs;
}

// Renders `jobs`; the result code of the failure, reported, when it fails.
int Render(const WorkFiles &files, const std::vector<RenderJob> &jobs, const char *input) {
  if (RenderPdfs(jobs, files.folder))
    return kConverted;
  std::fputc('\n', stderr); // ends the renderer's "Convertion failed!"
  if (interruption::Signal() != 0)
    return kInterrupted;
  PrintError("the PDF could not be rendered from %s", input);
  return kRenderingFailed;
}

// What rendering leaves for the finishing step.
struct Rendered {
  finishing::FinishPlan plan;
  finishing::PdfBuilder build;
};

// A reflowable book: prepared, laid out as a printed book and cut into
// pieces in memory, the pieces rendered side by side.
int RenderReflowable(const WorkFiles &files, const char *input, const BookFacts &facts,
                     Rendered &rendered) {
  ConvertFolderImages(files.images, 1);
  if (interruption::Signal() != 0)
    return kInterrupted;
  std::optional<std::string> html = TakeHtml(files);
  if (!html)
    return PiecesFailure(input);
  stage::StagedBook book = stage::StageBook(std::move(*html), facts.stage,
                                            std::thread::hardware_concurrency(), kPieceBase);
  const auto jobs = WritePieces(files, book.pieces);
  if (!jobs)
    return PiecesFailure(input);
  book.pieces = {};
  const BookFonts fonts(files.images);
  if (int result = Render(files, *jobs, input))
    return result;
  std::vector<std::string> parts;
  for (const RenderJob &job : *jobs)
    parts.push_back(job.pdfPath);
  rendered = {std::move(book.plan), [parts] { return finishing::JoinPdfs(parts); }};
  return kConverted;
}

// A fixed-layout book: one PDF page for each page of the book, picture pages
// built from the pictures' own bytes, the other pages rendered one by one.
int RenderFixedLayout(const WorkFiles &files, const char *input, const BookFacts &facts,
                      Rendered &rendered) {
  std::optional<std::string> html = TakeHtml(files);
  if (!html)
    return PiecesFailure(input);
  rendered.plan = finishing::PrepareHtmlText(*html, facts.stage.cover, facts.stage.startId);
  // A fixed layout's pages are the book's own, and so are their numbers.
  rendered.plan.numberPages = false;
  const fixedlayout::PlanFolders folders{files.folder, files.images, files.pieces};
  const fixedlayout::FixedBook book =
      fixedlayout::CutIntoPages(*html, facts.layout, [&](const std::string &address) {
        return fixedlayout::PictureSize(folders, address);
      });
  if (book.pages.empty()) {
    PrintError("%s is a fixed-layout book without pages", input);
    return kRenderingFailed;
  }
  const auto plan = fixedlayout::PlanPages(book, folders);
  if (!plan)
    return PiecesFailure(input);
  ConvertFolderImages(files.images, 1,
                      [&](const std::string &name) { return plan->drawn.contains(name); });
  if (interruption::Signal() != 0)
    return kInterrupted;
  if (!plan->jobs.empty()) {
    const BookFonts fonts(files.images);
    if (int result = Render(files, plan->jobs, input))
      return result;
  }
  rendered.build = [pages = plan->pages] { return finishing::BuildFixedLayoutPdf(pages); };
  return kConverted;
}

// Puts the rendered PDF together, finishes it in memory and writes it once,
// at the output path.
int DeliverPdf(const Rendered &rendered, const WorkFiles &files, const BookFacts &facts,
               const char *input, const char *output) {
  try {
    const auto book =
        finishing::FinishedPdf(rendered.build, files.folder, rendered.plan, facts.details);
    if (interruption::Signal() != 0)
      return kInterrupted;
    finishing::WritePdfFile(*book, output);
  } catch (const finishing::PdfFileError &error) {
    PrintError("cannot write the PDF to %s: %s", output, error.what());
    return kOutputFolderMissing;
  } catch (const std::exception &error) {
    PrintError(facts.layout.fixed ? "the pages of %s could not be put together: %s"
                                  : "the rendered pieces of %s could not be joined: %s",
               input, error.what());
    return kRenderingFailed;
  }
  return kConverted;
}

int RunPipeline(const WorkFiles &files, const char *input, const char *output) {
  if (int result = CopyBookIn(files, input))
    return result;
  BookFacts facts;
  if (int result = Unpack(files, input, facts))
    return result;
  unlink(files.book.c_str());
  Rendered rendered;
  if (int result = facts.layout.fixed ? RenderFixedLayout(files, input, facts, rendered)
                                      : RenderReflowable(files, input, facts, rendered))
    return result;
  return DeliverPdf(rendered, files, facts, input, output);
}

} // namespace

int ConvertBook(const char *input, const char *output, const char *workFolder) {
  if (!Exists(input)) {
    PrintError("the input book %s does not exist", input);
    return kInputMissing;
  }
  const std::string outputFolder = OutputFolder(output);
  if (outputFolder.empty() || !Exists(outputFolder)) {
    PrintError("the output folder of %s does not exist (name it, e.g. ./%s)", output, output);
    return kOutputFolderMissing;
  }
  if (!IsFolder(workFolder)) {
    PrintError("the working folder %s does not exist", workFolder);
    return kWorkFolderMissing;
  }
  const WorkFiles files(WithFinalSlash(workFolder));
  if (const auto taken = files.FirstTaken()) {
    PrintError("%s already exists; the working folder must not hold bookconv's temporary files",
               taken->c_str());
    return kWorkFolderMissing;
  }
  const interruption::SignalWatch watch;
  int result = RunPipeline(files, input, output);
  RemoveTemporaries(files);
  if (const int signal = interruption::Signal()) {
    // A PDF copied out while the signal arrived still goes: the run did not
    // end as asked.
    if (result == kConverted)
      unlink(output);
    PrintError("the conversion was interrupted by signal %d", signal);
    result = kInterrupted + signal;
  }
  return result;
}

int CopyBinaryFile(const char *source, const char *destination) {
  std::FILE *from = std::fopen(source, "rb");
  if (from == nullptr)
    return 2;
  std::FILE *to = std::fopen(destination, "wb");
  if (to == nullptr) {
    std::fclose(from);
    return 3;
  }
  int result = 0;
  char buffer[256];
  for (;;) {
    const std::size_t got = std::fread(buffer, 1, sizeof buffer, from);
    if (got == 0)
      break;
    if (std::fwrite(buffer, 1, got, to) < got) {
      result = 4;
      break;
    }
  }
  if (result == 0 && std::ferror(from))
    result = 2;
  int cause = errno;
  // Data still buffered is written on closing; a failure there is a short write too.
  if (std::fclose(to) != 0 && result == 0) {
    result = 4;
    cause = errno;
  }
  std::fclose(from);
  errno = cause; // the caller's one Error line names it
  return result;
}
