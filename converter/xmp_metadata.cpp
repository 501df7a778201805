#include "xmp_metadata.h"

#include <cctype>

#include "common/text_util.h"

namespace finishing {

namespace {

class PacketWriter {
public:
  // A simple property: <dc:format>value</dc:format>.
  void Simple(std::string_view property, std::string_view value) {
    if (!value.empty())
      Element(property, textutil::XmlEscaped(value));
  }
  // A language alternative with one default entry: titles and descriptions.
  void Alternative(std::string_view property, std::string_view value) {
    if (!value.empty())
      Element(property, "<rdf:Alt><rdf:li xml:lang=\"x-default\">" + textutil::XmlEscaped(value) +
                            "</rdf:li></rdf:Alt>");
  }
  // An ordered ("Seq") or unordered ("Bag") list.
  void List(std::string_view property, std::string_view kind,
            const std::vector<std::string> &values) {
    std::string items;
    for (const std::string &value : values)
      if (!value.empty())
        items += "<rdf:li>" + textutil::XmlEscaped(value) + "</rdf:li>";
    if (!items.empty())
      Element(property,
              "<rdf:" + std::string(kind) + ">" + items + "</rdf:" + std::string(kind) + ">");
  }
  // Identifiers with their schemes named, as xmp:Identifier qualifies them.
  void Identifiers(const std::vector<std::pair<std::string_view, std::string>> &identifiers) {
    std::string items;
    for (const auto &[scheme, value] : identifiers)
      if (!value.empty())
        items += "<rdf:li rdf:parseType=\"Resource\"><rdf:value>" + textutil::XmlEscaped(value) +
                 "</rdf:value><xmpidq:Scheme>" + std::string(scheme) + "</xmpidq:Scheme></rdf:li>";
    if (!items.empty())
      Element("xmp:Identifier", "<rdf:Bag>" + items + "</rdf:Bag>");
  }

  const std::string &Text() const { return text_; }

private:
  void Element(std::string_view property, const std::string &content) {
    text_ += "   <" + std::string(property) + ">" + content + "</" + std::string(property) + ">\n";
  }

  std::string text_;
};

bool DigitsAt(std::string_view text, std::size_t at, std::size_t count) {
  if (at + count > text.size())
    return false;
  for (std::size_t i = at; i < at + count; ++i)
    if (!std::isdigit(static_cast<unsigned char>(text[i])))
      return false;
  return true;
}

// Reads "-NN" parts of a date, or ":NN" parts of a time, at `at` into `out`
// while they are there, at most `most`.
void TakeParts(std::string_view text, std::size_t &at, char separator, int most, std::string &out) {
  for (int part = 0;
       part < most && at < text.size() && text[at] == separator && DigitsAt(text, at + 1, 2);
       ++part) {
    out.append(text.substr(at, 3));
    at += 3;
  }
}

// A time zone "Z", "+HH:MM", "+HHMM" or "+HH" at `at`, in XMP's form.
std::optional<std::string> TimeZone(std::string_view text, std::size_t at) {
  if (at == text.size())
    return std::string();
  if (text.substr(at) == "Z")
    return std::string("Z");
  if ((text[at] != '+' && text[at] != '-') || !DigitsAt(text, at + 1, 2))
    return std::nullopt;
  const std::string hours(text.substr(at, 3));
  const std::string_view rest = text.substr(at + 3);
  if (rest.empty())
    return hours + ":00";
  if (rest.size() == 2 && DigitsAt(rest, 0, 2))
    return hours + ":" + std::string(rest);
  if (rest.size() == 3 && rest[0] == ':' && DigitsAt(rest, 1, 2))
    return hours + std::string(rest);
  return std::nullopt;
}

} // namespace

std::optional<std::string> XmpDate(std::string_view bookDate) {
  bookDate = textutil::Trimmed(bookDate);
  if (!DigitsAt(bookDate, 0, 4))
    return std::nullopt;
  std::string date(bookDate.substr(0, 4));
  std::size_t at = 4;
  TakeParts(bookDate, at, '-', 2, date);
  if (at == bookDate.size())
    return date;
  // A time needs the whole date, and XMP joins the two with "T".
  if (date.size() != 10 || (bookDate[at] != 'T' && bookDate[at] != ' ') ||
      !DigitsAt(bookDate, at + 1, 2))
    return std::nullopt;
  date += 'T';
  date.append(bookDate.substr(at + 1, 2));
  at += 3;
  const std::size_t beforeMinutes = date.size();
  TakeParts(bookDate, at, ':', 2, date);
  if (date.size() == beforeMinutes)
    return std::nullopt;
  if (at < bookDate.size() && bookDate[at] == '.' && DigitsAt(bookDate, at + 1, 1)) {
    date += '.';
    for (++at; at < bookDate.size() && std::isdigit(static_cast<unsigned char>(bookDate[at])); ++at)
      date += bookDate[at];
  }
  const auto zone = TimeZone(bookDate, at);
  return zone ? std::optional<std::string>(date + *zone) : std::nullopt;
}

std::optional<std::string> XmpDateOfPdfDate(std::string_view pdfDate) {
  if (pdfDate.starts_with("D:"))
    pdfDate.remove_prefix(2);
  if (!DigitsAt(pdfDate, 0, 4))
    return std::nullopt;
  // "YYYYMMDDHHmmSS" takes the separators XMP writes between its parts.
  static constexpr std::string_view kSeparators = "--T::";
  std::string date(pdfDate.substr(0, 4));
  std::size_t at = 4;
  for (char separator : kSeparators) {
    if (!DigitsAt(pdfDate, at, 2))
      break;
    date += separator;
    date.append(pdfDate.substr(at, 2));
    at += 2;
  }
  // A time needs hours and minutes; a lone hour is dropped.
  if (date.size() == 13)
    date.resize(10);
  if (date.size() <= 10 || at == pdfDate.size())
    return date;
  std::string zone(pdfDate.substr(at));
  std::erase(zone, '\'');
  if (zone.starts_with('Z'))
    return date + "Z";
  const auto xmpZone = TimeZone(zone, 0);
  return date + xmpZone.value_or(std::string());
}

std::string XmpPacket(const XmpFacts &facts) {
  PacketWriter writer;
  writer.Alternative("dc:title", facts.title);
  writer.List("dc:creator", "Seq", {facts.author});
  writer.Alternative("dc:description", facts.description);
  writer.List("dc:publisher", "Bag", {facts.publisher});
  writer.List("dc:date", "Seq", {facts.date});
  writer.List("dc:language", "Bag", facts.languages);
  writer.Simple("dc:identifier", !facts.isbn.empty() ? "urn:isbn:" + facts.isbn : facts.asin);
  writer.List("dc:subject", "Bag", facts.subjects);
  writer.Identifiers({{"ISBN", facts.isbn}, {"ASIN", facts.asin}});
  writer.Simple("pdf:Keywords", facts.keywords);
  writer.Simple("pdf:Producer", facts.producer);
  writer.Simple("xmp:CreatorTool", facts.creatorTool);
  writer.Simple("xmp:CreateDate", facts.createDate);
  writer.Simple("xmp:ModifyDate", facts.modifyDate);
  return "<?xpacket begin=\"\xEF\xBB\xBF\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
         "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
         " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
         "  <rdf:Description rdf:about=\"\"\n"
         "    xmlns:dc=\"http://purl.org/dc/elements/1.1/\"\n"
         "    xmlns:pdf=\"http://ns.adobe.com/pdf/1.3/\"\n"
         "    xmlns:xmp=\"http://ns.adobe.com/xap/1.0/\"\n"
         "    xmlns:xmpidq=\"http://ns.adobe.com/xmp/Identifier/qual/1.0/\">\n" +
         writer.Text() +
         "  </rdf:Description>\n"
         " </rdf:RDF>\n"
         "</x:xmpmeta>\n"
         "<?xpacket end=\"w\"?>";
}

} // namespace finishing
