// Renders the unpacked HTML file into a PDF through libwkhtmltox, reporting
// progress, phases, errors and warnings on the console.
#pragma once

#include <string>

#include <wkhtmltox/pdf.h>

// Writes `pdfPath` from `htmlPath`; the renderer may read local files only
// inside `workFolder` (which ends in "/") and keeps its cookie jar there.
// Non-zero when the PDF was written, 0 when the rendering failed.
int RenderPdf(const std::string &htmlPath, const std::string &pdfPath,
              const std::string &workFolder);

// The converter's console callbacks.
void OnProgressChanged(wkhtmltopdf_converter *converter, const int value);
void OnPhaseChanged(wkhtmltopdf_converter *converter);
void OnError(wkhtmltopdf_converter *converter, const char *message);
void OnWarning(wkhtmltopdf_converter *converter, const char *message);
