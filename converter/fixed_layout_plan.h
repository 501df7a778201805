// How a fixed-layout book's pages are made: which are built from their
// picture, and which the renderer lays out, with the documents it reads.
#pragma once

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "fixed_layout.h"
#include "fixed_pdf.h"
#include "render_pdf.h"

namespace fixedlayout {

struct PlanFolders {
  std::string work;   // the working folder, ending in "/"; addresses start here
  std::string images; // the picture folder
  std::string pieces; // where the rendered pages' documents and PDFs go
};

struct PagePlan {
  std::vector<finishing::FixedPage> pages;
  std::vector<RenderJob> jobs;
  // Names in the picture folder that the rendered pages show: only these
  // are re-encoded for the renderer.
  std::set<std::string> drawn;
};

// Plans every page of `book`: a picture page carries its JPEG or PNG as it
// is, any other picture Tarn_Png reads as a lossless PNG copy among the
// pieces; every other page gets its document among the pieces. A picture the
// renderer shows too keeps its original bytes under a second name there.
// Nothing when a file cannot be written.
std::optional<PagePlan> PlanPages(const FixedBook &book, const PlanFolders &folders);

// The file of a picture the book's markup names by `address`, relative to
// the working folder: only a file of the picture folder, so that a page never
// carries a file from elsewhere.
std::optional<std::string> PicturePath(const PlanFolders &folders, const std::string &address);

// The pixel size of that picture, when it can be read.
std::optional<PixelSize> PictureSize(const PlanFolders &folders, const std::string &address);

} // namespace fixedlayout
