// RenderPdf and its console callbacks.
#include "render_pdf.h"

#include <gtest/gtest.h>
#include <png.h>

#include <cctype>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "mobi_writer.h"
#include "pdf_tools.h"
#include "test_files.h"

namespace {

using testbook::ScratchFolder;
using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;

TEST(RenderPdfCallbacks, ProgressOverwritesOneLine) {
  CaptureStdout();
  OnProgressChanged(nullptr, 7);
  OnProgressChanged(nullptr, 100);
  EXPECT_EQ(GetCapturedStdout(), "  7%\r100%\r");
}

TEST(RenderPdfCallbacks, ErrorsAndWarningsGoToStandardError) {
  CaptureStderr();
  OnError(nullptr, "Failed to load page");
  OnWarning(nullptr, "Blocked access to file /etc/passwd");
  EXPECT_EQ(GetCapturedStderr(),
            "Error: Failed to load page\nWarning: Blocked access to file /etc/passwd\n");
}

TEST(RenderPdfCallbacks, PhaseIsPrintedAsALine) {
  wkhtmltopdf_converter *converter =
      wkhtmltopdf_create_converter(wkhtmltopdf_create_global_settings());
  CaptureStdout();
  OnPhaseChanged(converter);
  const std::string printed = GetCapturedStdout();
  EXPECT_EQ(printed, std::string(wkhtmltopdf_phase_description(converter, 0)) + "\n");
  EXPECT_GT(printed.size(), 1u);
  wkhtmltopdf_destroy_converter(converter);
}

TEST(RenderPdf, MissingHtmlFailsWithItsMessages) {
  ScratchFolder scratch;
  const std::string work = scratch.Path().string() + "/";
  CaptureStdout();
  CaptureStderr();
  const int result = RenderPdf(work + "tmpData.htm", work + "tmpData.pdf", work);
  const std::string err = GetCapturedStderr();
  const std::string out = GetCapturedStdout();
  EXPECT_EQ(result, 0);
  EXPECT_TRUE(err.ends_with("Convertion failed!")) << err; // no newline after it
  EXPECT_NE(out.find("httpErrorCode: 0\n"), std::string::npos) << out;
  EXPECT_FALSE(std::filesystem::exists(work + "tmpData.pdf"));
}

void WritePicture(const std::string &path, std::uint32_t width, std::uint32_t height) {
  png_image image;
  std::memset(&image, 0, sizeof image);
  image.version = PNG_IMAGE_VERSION;
  image.width = width;
  image.height = height;
  image.format = PNG_FORMAT_RGB;
  std::vector<std::uint8_t> pixels(PNG_IMAGE_SIZE(image), 0x80);
  ASSERT_TRUE(png_image_write_to_file(&image, path.c_str(), 0, pixels.data(), 0, nullptr));
}

bool HasPicture(const std::vector<testbook::PdfImage> &images, int width, int height) {
  for (const auto &image : images)
    if (image.width == width && image.height == height)
      return true;
  return false;
}

TEST(RenderPdf, ReadsUtf8ShowsOnlyWorkingFolderPicturesAndRunsNoScript) {
  ScratchFolder scratch;
  const std::filesystem::path work = scratch.Path() / "work";
  const std::filesystem::path outside = scratch.Path() / "outside";
  std::filesystem::create_directories(work / "tmpData_files");
  std::filesystem::create_directories(outside);
  WritePicture((work / "tmpData_files/image_1.png").string(), 40, 30);
  WritePicture((outside / "secret.png").string(), 50, 20);
  const std::string html =
      "<?xml version=\"1.0\" encoding=\"UTF-8\"?><html><body>"
      "<p>Plain words and \xE4\xB8\xAD\xE6\x96\x87 text</p>"
      "<img src=\"tmpData_files/image_1.png\"/>"
      "<img src=\"../outside/secret.png\"/>"
      "<img src=\"tmpData_files/missing.png\"/>"
      "<script>document.write('SCRIPT' + 'RAN');</script>"
      "</body></html>";
  testbook::WriteFile((work / "tmpData.htm").string(), testbook::ToBytes(html));
  const std::string folder = work.string() + "/";

  CaptureStdout();
  CaptureStderr();
  const int result = RenderPdf(folder + "tmpData.htm", folder + "tmpData.pdf", folder);
  const std::string err = GetCapturedStderr();
  const std::string out = GetCapturedStdout();

  ASSERT_NE(result, 0) << err; // a missing or blocked picture is only a gap
  EXPECT_EQ(err.find("Convertion failed!"), std::string::npos);
  EXPECT_NE(out.find("httpErrorCode: 0\n"), std::string::npos);
  EXPECT_NE(out.find("100%\r"), std::string::npos);
  const std::string pdf = folder + "tmpData.pdf";
  std::string text = testbook::PdfText(pdf);
  // The CJK run may sit on a line of its own in the PDF's text.
  std::erase_if(text, [](char c) { return std::isspace(static_cast<unsigned char>(c)); });
  // Read as UTF-8, not guessed as Latin-1 ("\xC3\xA4\xC2\xB8..."). The font maps the
  // second character to a look-alike radical, so only the first is compared.
  EXPECT_NE(text.find("Plainwordsand\xE4\xB8\xAD"), std::string::npos) << text;
  EXPECT_EQ(text.find("\xC3\xA4"), std::string::npos) << text;
  EXPECT_EQ(text.find("SCRIPTRAN"), std::string::npos);
  const auto images = testbook::PdfImages(pdf);
  EXPECT_TRUE(HasPicture(images, 40, 30));
  EXPECT_FALSE(HasPicture(images, 50, 20));
}

TEST(RenderPdf, LongPreformattedBlockKeepsWhatFollowsIt) {
  ScratchFolder scratch;
  const std::string folder = scratch.Path().string() + "/";
  std::string html = "<html><body><pre>";
  for (int line = 0; line < 400; ++line)
    html += "code line " + std::to_string(line) + " of a long listing\n";
  html += "</pre><p>Text after the listing</p></body></html>";
  testbook::WriteFile(folder + "tmpData.htm", testbook::ToBytes(html));
  CaptureStdout();
  CaptureStderr();
  const int result = RenderPdf(folder + "tmpData.htm", folder + "tmpData.pdf", folder);
  GetCapturedStderr();
  GetCapturedStdout();
  ASSERT_NE(result, 0);
  const std::string text = testbook::PdfText(folder + "tmpData.pdf");
  EXPECT_NE(text.find("code line 399 of a long listing"), std::string::npos);
  EXPECT_NE(text.find("Text after the listing"), std::string::npos);
}

} // namespace
