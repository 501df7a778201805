// The fonts a book embeds, offered to the renderer as installed fonts.
#pragma once

#include <optional>
#include <string>

// The renderer embeds a font in the PDF only when it loaded it from a font
// file it found through fontconfig; a font it loads for a style sheet's
// @font-face it prints as outlines, which leaves that text out of the PDF's
// text. While this object lives, fontconfig (in this process and in the
// renderer it starts) also finds the ".ttf" and ".otf" files of the book's
// resource folder, through a configuration file written into that folder;
// its font cache goes there too, so the folder's removal takes both.
class BookFonts {
public:
  explicit BookFonts(const std::string &resourceFolder);
  ~BookFonts();
  BookFonts(const BookFonts &) = delete;
  BookFonts &operator=(const BookFonts &) = delete;

  // True when the folder holds fonts and the renderer is pointed at them.
  bool Offered() const { return !configPath_.empty(); }

private:
  std::string configPath_;
  std::optional<std::string> previousConfig_; // FONTCONFIG_FILE before
};
