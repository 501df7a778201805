#include "engine_choice.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <optional>

#include "common/text_util.h"

namespace wkhtmltox {

namespace {

constexpr std::string_view kInstallChromium = "chromium-headless-shell";

std::string FindProgram(std::string_view searchPath, std::string_view name) {
  for (std::size_t start = 0; start <= searchPath.size();) {
    const std::size_t end = std::min(searchPath.find(':', start), searchPath.size());
    const std::string_view folder = searchPath.substr(start, end - start);
    const std::string path =
        (folder.empty() ? std::string(".") : std::string(folder)) + "/" + std::string(name);
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && S_ISREG(status.st_mode) &&
        access(path.c_str(), X_OK) == 0)
      return path;
    start = end + 1;
  }
  return {};
}

struct CodeRange {
  char32_t first, last;
};

// Scripts whose text wkhtmltopdf runs off the page: the Arabic script in all
// its blocks, Hebrew points and cantillation (not the maqaf and the other
// punctuation unpointed text uses, which it lays out well), Hebrew letters
// with points built in, and the other right-to-left scripts.
constexpr std::array kRightToLeftRanges{
    CodeRange{0x0591, 0x05BD},   CodeRange{0x05BF, 0x05BF}, CodeRange{0x05C1, 0x05C2},
    CodeRange{0x05C4, 0x05C5},   CodeRange{0x05C7, 0x05C7}, CodeRange{0x0600, 0x08FF},
    CodeRange{0xFB1D, 0xFDFF},   CodeRange{0xFE70, 0xFEFF}, CodeRange{0x10800, 0x10FFF},
    CodeRange{0x1E800, 0x1EEFF},
};

// Languages written in those scripts.
constexpr std::array<std::string_view, 11> kRightToLeftLanguages{
    "ar", "fa", "ur", "ps", "sd", "ug", "ckb", "dv", "syr", "nqo", "yi"};

bool IsRightToLeft(char32_t code) {
  return std::any_of(
      kRightToLeftRanges.begin(), kRightToLeftRanges.end(),
      [&](const CodeRange &range) { return code >= range.first && code <= range.last; });
}

// The code point of the well-formed UTF-8 sequence of `length` bytes at the
// start of `bytes`.
char32_t CodePoint(std::string_view bytes, std::size_t length) {
  char32_t code = static_cast<unsigned char>(bytes[0]) & (0x7F >> length);
  for (std::size_t i = 1; i < length; ++i)
    code = code << 6 | (static_cast<unsigned char>(bytes[i]) & 0x3F);
  return code;
}

bool HasRightToLeftText(std::string_view html) {
  for (std::size_t at = 0; at < html.size();) {
    // Right-to-left scripts lie past U+0590: their lead bytes are 0xD6 and up.
    if (static_cast<unsigned char>(html[at]) < 0xD6) {
      ++at;
      continue;
    }
    const std::size_t length = textutil::Utf8SequenceLength(html.substr(at));
    if (length > 1 && IsRightToLeft(CodePoint(html.substr(at), length)))
      return true;
    at += std::max<std::size_t>(length, 1);
  }
  return false;
}

// The root element's start tag, lower-cased; empty when there is none.
std::string RootTag(std::string_view html) {
  const std::string head = textutil::Lower(html.substr(0, 64 * 1024));
  for (std::size_t at = head.find("<html"); at != std::string::npos;
       at = head.find("<html", at + 1)) {
    const std::size_t after = at + 5;
    if (after < head.size() && (head[after] == '>' || textutil::IsHtmlSpace(head[after]))) {
      const std::size_t end = head.find('>', after);
      return head.substr(at, (end == std::string::npos ? head.size() : end) - at);
    }
  }
  return {};
}

bool DeclaresRightToLeft(std::string_view html) {
  const std::string root = RootTag(html);
  if (root.empty())
    return false;
  if (textutil::Attribute(root, "dir") == "rtl")
    return true;
  for (std::string_view name : {"lang", "xml:lang"}) {
    const std::string_view language = textutil::Attribute(root, name).value_or("");
    const std::string_view primary = language.substr(0, language.find_first_of("-_"));
    if (std::find(kRightToLeftLanguages.begin(), kRightToLeftLanguages.end(), primary) !=
        kRightToLeftLanguages.end())
      return true;
  }
  return false;
}

} // namespace

InstalledEngines FindEngines(std::string_view searchPath) {
  InstalledEngines installed;
  installed.wkhtmltopdf = FindProgram(searchPath, "wkhtmltopdf");
  installed.chromium = FindProgram(searchPath, kInstallChromium);
  if (installed.chromium.empty())
    installed.chromium = FindProgram(searchPath, "chromium");
  return installed;
}

bool NeedsChromium(std::string_view html) {
  return DeclaresRightToLeft(html) || HasRightToLeftText(html);
}

EngineChoice ChooseEngine(bool needsChromium, const InstalledEngines &installed) {
  const bool haveChromium = !installed.chromium.empty();
  const bool haveWkhtmltopdf = !installed.wkhtmltopdf.empty();
  if (haveChromium && (needsChromium || !haveWkhtmltopdf))
    return {Engine::Chromium, installed.chromium, {}, {}};
  if (!haveWkhtmltopdf)
    return {Engine::None,
            {},
            {},
            "no HTML renderer is installed: install the package " + std::string(kInstallChromium)};
  std::string warning;
  if (needsChromium)
    warning = "wkhtmltopdf cannot lay out this book's right-to-left text; install the package " +
              std::string(kInstallChromium) + " to render it correctly";
  return {Engine::Wkhtmltopdf, installed.wkhtmltopdf, warning, {}};
}

} // namespace wkhtmltox
