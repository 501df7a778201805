// Cost of the finishing step: preparing a large book's HTML, and finishing a
// PDF the renderer made from a book with many anchors and links.
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "book_pdf.h"
#include "html_preparer.h"
#include "pdf_finisher.h"

namespace {

// A book of `chapters` chapters, each with a heading, ten paragraphs, an
// anchor in the middle and links to its neighbours, behind a contents page.
std::string MakeBook(int chapters) {
  std::string toc = "<a id=\"filepos1\" /><h1>Contents</h1>";
  std::string body;
  for (int c = 1; c <= chapters; ++c) {
    const std::string n = std::to_string(c);
    const std::string next = std::to_string(c % chapters + 1);
    toc += "<p><a href=\"#filepos" + n + "00\">Chapter " + n + "</a></p>";
    body += "<a id=\"filepos" + n + "00\" /><h2>Chapter " + n + "</h2>";
    for (int p = 0; p < 10; ++p) {
      body += "<p>Some ordinary words of a paragraph that runs over a few lines of the page, ";
      if (p == 5)
        body += "<a id=\"filepos" + n + "50\" />";
      body += "with a link <a href=\"#filepos" + next + "50\">onwards</a> in it.</p>";
    }
  }
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html><head><guide><reference type=\"toc\" "
         "filepos=1 /></guide></head><body>" +
         toc + "<mbp:pagebreak/>" + body + "</body></html>";
}

void WriteText(const std::filesystem::path &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

void PrepareHtml(benchmark::State &state) {
  const std::string book = MakeBook(static_cast<int>(state.range(0)));
  for (auto _ : state) {
    std::string html = book;
    benchmark::DoNotOptimize(finishing::PrepareHtmlText(html, {}));
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * book.size()));
}
BENCHMARK(PrepareHtml)->Arg(100)->Arg(2000)->Unit(benchmark::kMillisecond);

void FinishPdf(benchmark::State &state) {
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("bookconv-bench-" + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  const std::string work = folder.string() + "/";
  std::string html = MakeBook(static_cast<int>(state.range(0)));
  const finishing::FinishPlan plan = finishing::PrepareHtmlText(html, {});
  WriteText(folder / "tmpData.htm", html);
  const std::string render =
      "wkhtmltopdf -q --encoding utf-8 --enable-local-file-access --allow '" + work + "' '" + work +
      "tmpData.htm' '" + work + "rendered.pdf' 2>/dev/null";
  if (std::system(render.c_str()) != 0) {
    state.SkipWithError("wkhtmltopdf could not render the book");
    std::filesystem::remove_all(folder);
    return;
  }
  for (auto _ : state) {
    const finishing::BookPdfPtr book = finishing::JoinPdfs({work + "rendered.pdf"});
    finishing::FinishPdf(book->pdf, work, plan, {"Title", "Author"});
    finishing::WritePdfFile(*book, work + "tmpData.pdf");
  }
  state.counters["pdf_bytes"] =
      static_cast<double>(std::filesystem::file_size(folder / "rendered.pdf"));
  std::filesystem::remove_all(folder);
}
BENCHMARK(FinishPdf)->Arg(100)->Arg(1000)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace
