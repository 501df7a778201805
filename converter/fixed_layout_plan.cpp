#include "fixed_layout_plan.h"

#include <unistd.h>

#include <cstdio>

#include "convert_book.h"
#include "picture_file.h"
#include "tarn_png.h"
#include "common/whole_file.h"

namespace fixedlayout {

namespace {

// A picture a page can carry as it is: a JPEG, or a PNG drawn losslessly.
std::optional<pictures::PictureInfo> PictureInfoOf(const std::string &path) {
  const auto bytes = pictures::ReadPictureHeaders(path);
  if (!bytes)
    return std::nullopt;
  if (const auto jpeg = pictures::ReadJpegInfo(*bytes))
    return jpeg;
  const auto png = pictures::ReadPngInfo(*bytes);
  if (!png || pictures::DecodedBytes(*png) > pictures::kLargestDecoded)
    return std::nullopt;
  return png;
}

// A GIF (or any other picture Tarn_Png reads) as a PNG beside the pieces, so
// that its page keeps every pixel; the picture itself stays for the renderer.
std::optional<std::string> LosslessCopy(const std::string &picture, const std::string &stem) {
  const std::string png = stem + ".png";
  if (jpg2png(picture.c_str(), png.c_str()) != TARN_PNG_OK)
    return std::nullopt;
  return png;
}

struct CarriedPicture {
  std::string path;
  pictures::PictureInfo info;
};

// The file a picture page draws, as the PDF carries it.
std::optional<CarriedPicture> CarriedPictureOf(const std::string &picture,
                                               const std::string &stem) {
  if (const auto info = PictureInfoOf(picture))
    return CarriedPicture{picture, *info};
  const auto png = LosslessCopy(picture, stem);
  const auto info = png ? PictureInfoOf(*png) : std::nullopt;
  if (!info)
    return std::nullopt;
  return CarriedPicture{*png, *info};
}

std::string Millimetres(double pixels) {
  char text[32];
  std::snprintf(text, sizeof text, "%.3fmm", pixels * 25.4 / 96);
  return text;
}

// Plans each page; `renderedMarkup` collects what the renderer will read.
std::optional<PagePlan> PlanEachPage(const FixedBook &book, const PlanFolders &folders,
                                     std::string &renderedMarkup) {
  PagePlan plan;
  for (const BookPage &page : book.pages) {
    finishing::FixedPage pdfPage;
    pdfPage.width = PixelsToPoints(page.size.width);
    pdfPage.height = PixelsToPoints(page.size.height);
    pdfPage.markKeys = page.markKeys;
    const std::string stem = folders.pieces + "/page_" + std::to_string(plan.pages.size() + 1);
    const auto path = PicturePath(folders, page.picture);
    const auto carried = path ? CarriedPictureOf(*path, stem) : std::nullopt;
    if (carried) {
      pdfPage.picturePath = carried->path;
      pdfPage.picture = carried->info;
    } else {
      const std::string document = PageDocument(book, page, "<base href=\"../\"/>");
      if (!textutil::WriteWholeFile(stem + ".htm", document))
        return std::nullopt;
      plan.jobs.push_back({stem + ".htm", stem + ".pdf", document.size(),
                           Millimetres(page.size.width), Millimetres(page.size.height)});
      pdfPage.renderedPdf = stem + ".pdf";
      renderedMarkup += document;
    }
    plan.pages.push_back(std::move(pdfPage));
  }
  return plan;
}

// A picture the renderer draws too is re-encoded for it; the picture page
// keeps the original bytes through a second name in the pieces folder.
bool KeepOriginals(const PlanFolders &folders, PagePlan &plan) {
  for (std::size_t i = 0; i < plan.pages.size(); ++i) {
    std::string &path = plan.pages[i].picturePath;
    if (path.empty() || !plan.drawn.contains(path.substr(path.rfind('/') + 1)))
      continue;
    const std::string original = folders.pieces + "/original_" + std::to_string(i + 1);
    if (link(path.c_str(), original.c_str()) != 0 &&
        CopyBinaryFile(path.c_str(), original.c_str()) != 0)
      return false;
    path = original;
  }
  return true;
}

// The image-folder names the rendered pages refer to.
std::set<std::string> DrawnPictures(const PlanFolders &folders, const std::string &renderedMarkup) {
  std::set<std::string> drawn;
  if (renderedMarkup.empty())
    return drawn;
  const std::string folder = folders.images.substr(folders.work.size()) + "/";
  for (std::size_t at = renderedMarkup.find(folder); at != std::string::npos;
       at = renderedMarkup.find(folder, at + 1)) {
    const std::size_t begin = at + folder.size();
    const std::size_t end = renderedMarkup.find_first_of("\"')? ", begin);
    drawn.insert(renderedMarkup.substr(begin, end - begin));
  }
  return drawn;
}

} // namespace

std::optional<PagePlan> PlanPages(const FixedBook &book, const PlanFolders &folders) {
  std::string renderedMarkup;
  auto plan = PlanEachPage(book, folders, renderedMarkup);
  if (!plan)
    return std::nullopt;
  plan->drawn = DrawnPictures(folders, renderedMarkup);
  if (!KeepOriginals(folders, *plan))
    return std::nullopt;
  return plan;
}

std::optional<std::string> PicturePath(const PlanFolders &folders, const std::string &address) {
  const std::string folder = folders.images.substr(folders.work.size()) + "/";
  const std::string name = address.substr(std::min(address.size(), folder.size()));
  if (!address.starts_with(folder) || name.empty() || name == "." || name == ".." ||
      name.find('/') != std::string::npos)
    return std::nullopt;
  return folders.images + "/" + name;
}

std::optional<PixelSize> PictureSize(const PlanFolders &folders, const std::string &address) {
  const auto path = PicturePath(folders, address);
  const auto bytes = path ? pictures::ReadPictureHeaders(*path) : std::nullopt;
  const auto size = bytes ? pictures::PictureSize(*bytes) : std::nullopt;
  if (!size)
    return std::nullopt;
  return PixelSize{static_cast<double>(size->width), static_cast<double>(size->height)};
}

} // namespace fixedlayout
