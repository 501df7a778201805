// The XMP metadata packet of the finished PDF: the book's descriptive facts
// in the Dublin Core, PDF and XMP schemas, mirroring the document
// information so that the two never disagree.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace finishing {

// Every text UTF-8; an empty one, or an empty list, is left out.
struct XmpFacts {
  std::string title;
  std::string author;
  std::string description;
  std::string publisher;
  std::string date; // as an XMP date (see XmpDate)
  std::vector<std::string> languages;
  std::string isbn;
  std::string asin;
  std::vector<std::string> subjects;
  std::string keywords; // the subjects as the document information joins them
  std::string producer; // the document information's, when it has them
  std::string creatorTool;
  std::string createDate; // XMP dates
  std::string modifyDate;
};

// The whole packet, XML-escaped, with its xpacket wrapper.
std::string XmpPacket(const XmpFacts &facts);

// The book's date ("2001-10-01", "2025-04-28 18:16:24.25+00:00") in XMP's
// form of ISO 8601; nothing when it is not such a date.
std::optional<std::string> XmpDate(std::string_view bookDate);
// A PDF date ("D:20261208073000+01'00'") in XMP's form; nothing when it is
// not one.
std::optional<std::string> XmpDateOfPdfDate(std::string_view pdfDate);

} // namespace finishing
