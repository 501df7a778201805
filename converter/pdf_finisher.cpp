#include "pdf_finisher.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <map>
#include <optional>
#include <vector>

#include <qpdf/QPDF.hh>
#include <qpdf/QPDFObjectHandle.hh>
#include <qpdf/QPDFPageDocumentHelper.hh>
#include <qpdf/QPDFPageObjectHelper.hh>

#include "page_numbers.h"
#include "pdf_text.h"
#include "common/text_util.h"
#include "xmp_metadata.h"

namespace finishing {

namespace {

using Handle = QPDFObjectHandle;

// A place in the PDF: a page and the height on it where the place's line starts.
struct Place {
  Handle page;
  double top = 0;
};

using Places = std::map<std::string, Place>;

std::optional<std::string> UriOf(Handle annotation) {
  Handle action = annotation.getKey("/A");
  if (!action.isDictionary() || !action.getKey("/S").isNameAndEquals("/URI"))
    return std::nullopt;
  Handle uri = action.getKey("/URI");
  if (!uri.isString())
    return std::nullopt;
  return uri.getStringValue();
}

// The texts that would give the working folder away: its absolute path as
// given and with links resolved, each also as a URL writes it.
class FolderTraces {
public:
  explicit FolderTraces(const std::string &workFolder) {
    namespace fs = std::filesystem;
    std::error_code error;
    const fs::path absolute = fs::absolute(workFolder, error).lexically_normal();
    Add(error ? workFolder : absolute.string());
    const fs::path canonical = fs::weakly_canonical(absolute, error);
    if (!error)
      Add(canonical.string());
  }

  // True when `text` holds one of the traces as a whole path: not as the
  // tail of a longer name ("/tmp" in "https://example.org/tmp/" is the web
  // site's, not the working folder).
  bool Holds(std::string_view text) const {
    return std::any_of(traces_.begin(), traces_.end(), [&](const std::string &trace) {
      for (std::size_t at = text.find(trace); at != std::string_view::npos;
           at = text.find(trace, at + 1)) {
        const std::size_t end = at + trace.size();
        if ((at == 0 || !IsNameChar(text[at - 1])) &&
            (end == text.size() || !IsNameChar(text[end])))
          return true;
      }
      return false;
    });
  }

private:
  static bool IsNameChar(char c) {
    return std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' || c == '_' ||
           c == '%';
  }

  void Add(std::string path) {
    while (path.size() > 1 && path.back() == '/')
      path.pop_back();
    // The root alone would match every path.
    if (path.empty() || path == "/")
      return;
    traces_.push_back(path);
    traces_.push_back(PercentEncoded(path));
  }

  static std::string PercentEncoded(std::string_view path) {
    static constexpr std::string_view kKept = "-._~/!$&'()*+,;=:@";
    std::string encoded;
    for (unsigned char c : path) {
      if (std::isalnum(c) || kKept.find(static_cast<char>(c)) != std::string_view::npos) {
        encoded += static_cast<char>(c);
      } else {
        char escape[4];
        std::snprintf(escape, sizeof escape, "%%%02X", c);
        encoded += escape;
      }
    }
    return encoded;
  }

  std::vector<std::string> traces_;
};

std::vector<Handle> AnnotationsOf(QPDFPageObjectHelper &page) {
  Handle annots = page.getObjectHandle().getKey("/Annots");
  return annots.isArray() ? annots.getArrayAsVector() : std::vector<Handle>();
}

void SetAnnotations(QPDFPageObjectHelper &page, const std::vector<Handle> &annotations) {
  if (annotations.empty())
    page.getObjectHandle().removeKey("/Annots");
  else
    page.getObjectHandle().replaceKey("/Annots", Handle::newArray(annotations));
}

// Where a marker stands: its page and the top of its rectangle.
Place PlaceOfMarker(Handle annotation, QPDFPageObjectHelper &page) {
  const Handle::Rectangle rect = annotation.getKey("/Rect").getArrayAsRectangle();
  return {page.getObjectHandle(), std::max(rect.lly, rect.ury)};
}

// Reads every marker's place and takes the markers off their pages.
Places TakeMarkers(std::vector<QPDFPageObjectHelper> &pages) {
  Places places;
  for (QPDFPageObjectHelper &page : pages) {
    std::vector<Handle> kept;
    bool changed = false;
    for (Handle annotation : AnnotationsOf(page)) {
      const auto uri = UriOf(annotation);
      if (uri && uri->rfind(kMarkScheme, 0) == 0) {
        places.try_emplace(uri->substr(kMarkScheme.size()), PlaceOfMarker(annotation, page));
        changed = true;
      } else {
        kept.push_back(annotation);
      }
    }
    if (changed)
      SetAnnotations(page, kept);
  }
  return places;
}

Handle Destination(const Place &place) {
  return Handle::newArray({place.page, Handle::newName("/XYZ"), Handle::newInteger(0),
                           Handle::newReal(place.top, 2), Handle::newNull()});
}

// The marker key a link of the book aims at: the key of a kLinkScheme link,
// or the id after "#" in "file:…#ID".
std::optional<std::string> BookLinkKey(std::string_view uri) {
  if (textutil::StartsWithNoCase(uri, kLinkScheme))
    return std::string(uri.substr(kLinkScheme.size()));
  const std::size_t hash = uri.rfind('#');
  if (hash == std::string_view::npos || hash + 1 == uri.size())
    return std::nullopt;
  return IdMarkKey(textutil::PercentDecoded(uri.substr(hash + 1)));
}

// Turns links into the book into jumps, and drops links that lead into the
// working folder: to a place the layout lost, or to a local file.
void ResolveLinks(std::vector<QPDFPageObjectHelper> &pages, const Places &places,
                  const FolderTraces &traces) {
  for (QPDFPageObjectHelper &page : pages) {
    std::vector<Handle> kept;
    bool changed = false;
    for (Handle annotation : AnnotationsOf(page)) {
      const auto uri = UriOf(annotation);
      if (!uri || !(textutil::StartsWithNoCase(*uri, kLinkScheme) ||
                    textutil::StartsWithNoCase(*uri, "file:") || traces.Holds(*uri))) {
        kept.push_back(annotation);
        continue;
      }
      changed = true;
      const auto key = BookLinkKey(*uri);
      const auto place = key ? places.find(*key) : places.end();
      if (place == places.end())
        continue;
      annotation.removeKey("/A");
      annotation.replaceKey("/Dest", Destination(place->second));
      kept.push_back(annotation);
    }
    if (changed)
      SetAnnotations(page, kept);
  }
}

struct OutlineNode {
  const OutlineEntry *entry = nullptr;
  Place place;
  std::vector<OutlineNode> children;
};

// The entries that have a place, nested by depth: each under the nearest
// earlier entry of smaller depth.
std::vector<OutlineNode> OutlineTree(const FinishPlan &plan, const Places &places) {
  OutlineNode root;
  std::vector<OutlineNode *> path{&root};
  for (const OutlineEntry &entry : plan.outline) {
    const auto place = places.find(entry.markKey);
    if (place == places.end())
      continue;
    while (path.size() > 1 && path.back()->entry->depth >= entry.depth)
      path.pop_back();
    path.back()->children.push_back({&entry, place->second, {}});
    path.push_back(&path.back()->children.back());
  }
  return std::move(root.children);
}

// Writes `nodes` as the children of the outline item (or root) `parent`.
void WriteOutlineLevel(QPDF &pdf, Handle parent, const std::vector<OutlineNode> &nodes) {
  std::vector<Handle> items;
  for (const OutlineNode &node : nodes) {
    Handle item = pdf.makeIndirectObject(Handle::newDictionary());
    item.replaceKey("/Title", Handle::newUnicodeString(node.entry->title));
    item.replaceKey("/Parent", parent);
    item.replaceKey("/Dest", Destination(node.place));
    if (!node.children.empty()) {
      WriteOutlineLevel(pdf, item, node.children);
      // Closed: a long contents list opens one level at a time.
      item.replaceKey("/Count", Handle::newInteger(-static_cast<long long>(node.children.size())));
    }
    items.push_back(item);
  }
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i > 0)
      items[i].replaceKey("/Prev", items[i - 1]);
    if (i + 1 < items.size())
      items[i].replaceKey("/Next", items[i + 1]);
  }
  parent.replaceKey("/First", items.front());
  parent.replaceKey("/Last", items.back());
}

void AddOutline(QPDF &pdf, const FinishPlan &plan, const Places &places) {
  const std::vector<OutlineNode> tree = OutlineTree(plan, places);
  Handle root = pdf.getRoot();
  if (tree.empty()) {
    root.removeKey("/Outlines");
    return;
  }
  Handle outlines = pdf.makeIndirectObject(Handle::newDictionary());
  outlines.replaceKey("/Type", Handle::newName("/Outlines"));
  WriteOutlineLevel(pdf, outlines, tree);
  outlines.replaceKey("/Count", Handle::newInteger(static_cast<long long>(tree.size())));
  root.replaceKey("/Outlines", outlines);
  root.replaceKey("/PageMode", Handle::newName("/UseOutlines"));
}

// Where the PDF opens: the page holding the start of reading, else the first.
void SetOpenAction(QPDF &pdf, const std::vector<QPDFPageObjectHelper> &pages,
                   const FinishPlan &plan, const Places &places) {
  const auto start = plan.startMarkKey.empty() ? places.end() : places.find(plan.startMarkKey);
  if (start != places.end())
    pdf.getRoot().replaceKey("/OpenAction", Destination(start->second));
  else if (!pages.empty())
    pdf.getRoot().replaceKey(
        "/OpenAction", Handle::newArray({pages.front().getObjectHandle(), Handle::newName("/XYZ"),
                                         Handle::newNull(), Handle::newNull(), Handle::newNull()}));
}

std::string Joined(const std::vector<std::string> &texts, std::string_view separator) {
  std::string joined;
  for (const std::string &text : texts)
    joined += (joined.empty() ? "" : std::string(separator)) + text;
  return joined;
}

// The texts of `texts` that are not empty once cleaned up.
std::vector<std::string> CleanTexts(const std::vector<std::string> &texts) {
  std::vector<std::string> cleaned;
  for (const std::string &text : texts)
    if (std::string clean = BookTextToUtf8(text); !clean.empty())
      cleaned.push_back(std::move(clean));
  return cleaned;
}

void SetInfoText(Handle info, const std::string &key, const std::string &text) {
  if (!text.empty())
    info.replaceKey(key, Handle::newUnicodeString(text));
}

std::string InfoText(Handle info, const std::string &key) {
  Handle value = info.getKey(key);
  return value.isString() ? value.getUTF8Value() : std::string();
}

std::string InfoDate(Handle info, const std::string &key) {
  return XmpDateOfPdfDate(InfoText(info, key)).value_or(std::string());
}

Handle DocumentInfo(QPDF &pdf) {
  Handle trailer = pdf.getTrailer();
  Handle info = trailer.getKey("/Info");
  if (!info.isDictionary()) {
    info = pdf.makeIndirectObject(Handle::newDictionary());
    trailer.replaceKey("/Info", info);
  }
  return info;
}

// The document information from the book.
void SetDocumentInfo(QPDF &pdf, const BookDetails &details) {
  Handle info = DocumentInfo(pdf);
  SetInfoText(info, "/Title", BookTextToUtf8(details.title));
  SetInfoText(info, "/Author", BookTextToUtf8(details.author));
  SetInfoText(info, "/Subject", HtmlFragmentToText(details.facts.description));
  SetInfoText(info, "/Keywords", Joined(CleanTexts(details.facts.subjects), "; "));
}

// The catalog's viewer preferences, made when it has none.
Handle ViewerPreferences(QPDF &pdf) {
  Handle root = pdf.getRoot();
  Handle preferences = root.getKey("/ViewerPreferences");
  if (!preferences.isDictionary()) {
    preferences = Handle::newDictionary();
    root.replaceKey("/ViewerPreferences", preferences);
  }
  return preferences;
}

// An XMP packet that says what the document information says, and the book's
// other facts besides; the catalog's language and viewer preferences.
void SetCatalogMetadata(QPDF &pdf, const BookFacts &book) {
  Handle info = DocumentInfo(pdf);
  XmpFacts facts;
  facts.title = InfoText(info, "/Title");
  facts.author = InfoText(info, "/Author");
  facts.description = InfoText(info, "/Subject");
  facts.keywords = InfoText(info, "/Keywords");
  facts.producer = InfoText(info, "/Producer");
  facts.creatorTool = InfoText(info, "/Creator");
  facts.createDate = InfoDate(info, "/CreationDate");
  facts.modifyDate = InfoDate(info, "/ModDate");
  facts.publisher = BookTextToUtf8(book.publisher);
  facts.date = XmpDate(book.date).value_or(std::string());
  facts.languages = CleanTexts(book.languages);
  facts.isbn = BookTextToUtf8(book.isbn);
  facts.asin = BookTextToUtf8(book.asin);
  facts.subjects = CleanTexts(book.subjects);
  Handle metadata = Handle::newStream(&pdf, XmpPacket(facts));
  metadata.getDict().replaceKey("/Type", Handle::newName("/Metadata"));
  metadata.getDict().replaceKey("/Subtype", Handle::newName("/XML"));
  Handle root = pdf.getRoot();
  root.replaceKey("/Metadata", metadata);
  if (!facts.languages.empty())
    root.replaceKey("/Lang", Handle::newUnicodeString(facts.languages.front()));
  ViewerPreferences(pdf).replaceKey("/DisplayDocTitle", Handle::newBool(true));
}

void SetReadingDirection(QPDF &pdf, const BookDetails &details) {
  if (details.rightToLeft)
    ViewerPreferences(pdf).replaceKey("/Direction", Handle::newName("/R2L"));
}

// Empties every string, in `object` and the direct objects inside it, that
// holds a trace of the working folder.
void BlankTraces(Handle object, const FolderTraces &traces) {
  if (object.isArray()) {
    const int count = object.getArrayNItems();
    for (int i = 0; i < count; ++i) {
      Handle item = object.getArrayItem(i);
      if (item.isString() && traces.Holds(item.getStringValue()))
        object.setArrayItem(i, Handle::newString(""));
      else if (!item.isIndirect())
        BlankTraces(item, traces);
    }
  } else if (object.isDictionary() || object.isStream()) {
    Handle dictionary = object.isStream() ? object.getDict() : object;
    for (const std::string &key : dictionary.getKeys()) {
      Handle value = dictionary.getKey(key);
      if (value.isString() && traces.Holds(value.getStringValue()))
        dictionary.replaceKey(key, Handle::newString(""));
      else if (!value.isIndirect())
        BlankTraces(value, traces);
    }
  }
}

void BlankAllTraces(QPDF &pdf, const FolderTraces &traces) {
  BlankTraces(pdf.getTrailer(), traces);
  for (Handle object : pdf.getAllObjects())
    BlankTraces(object, traces);
}

} // namespace

void FinishPdf(QPDF &pdf, const std::string &workFolder, const FinishPlan &plan,
               const BookDetails &details) {
  const FolderTraces traces(workFolder);
  std::vector<QPDFPageObjectHelper> pages = QPDFPageDocumentHelper(pdf).getAllPages();
  const Places places = TakeMarkers(pages);
  ResolveLinks(pages, places, traces);
  AddOutline(pdf, plan, places);
  SetOpenAction(pdf, pages, plan, places);
  if (plan.numberPages) {
    StampPageNumbers(pdf, pages, plan.firstNumberedPage);
    SetPageLabels(pdf);
  }
  SetDocumentInfo(pdf, details);
  SetReadingDirection(pdf, details);
  BlankAllTraces(pdf, traces);
  // After the blanking, so that the packet copies no trace of the folder.
  SetCatalogMetadata(pdf, details.facts);
}

} // namespace finishing
