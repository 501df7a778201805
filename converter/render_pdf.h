// Renders HTML files into PDFs through libwkhtmltox, several at once,
// reporting progress, phases, errors and warnings on the console.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include <wkhtmltox/pdf.h>

// One HTML file to render; `weight` is its share of the whole job's
// progress (its size, say).
struct RenderJob {
  std::string htmlPath;
  std::string pdfPath;
  std::size_t weight = 1;
  // A page of this size (e.g. "105.83mm") without margins; empty for the
  // book's default page and margins.
  std::string pageWidth = {};
  std::string pageHeight = {};
};

// Writes every job's PDF, as many at once as the machine has cores, with one
// progress line for the whole. The renderer may read local files only inside
// `workFolder` (which ends in "/") and keeps its cookie jar there. The first
// failure, or a signal noted by interruption::SignalWatch, stops the rest
// and ends the renderer processes still running. Non-zero when every PDF
// was written, 0 when the rendering failed or was interrupted.
int RenderPdfs(const std::vector<RenderJob> &jobs, const std::string &workFolder);

// RenderPdfs with one file.
int RenderPdf(const std::string &htmlPath, const std::string &pdfPath,
              const std::string &workFolder);

// The converter's console callbacks.
void OnProgressChanged(wkhtmltopdf_converter *converter, const int value);
void OnPhaseChanged(wkhtmltopdf_converter *converter);
void OnError(wkhtmltopdf_converter *converter, const char *message);
void OnWarning(wkhtmltopdf_converter *converter, const char *message);
