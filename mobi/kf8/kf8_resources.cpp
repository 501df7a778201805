#include "kf8/kf8_resources.h"

#include <algorithm>

#include "resources/font_record.h"
#include "resources/image_record.h"
#include "container/exth_header.h"
#include "container/mobi_header.h"
#include "tarn_mobi.h"

namespace {

void AppendRange(std::vector<ByteReader> &list, std::span<const ByteReader> records,
                 std::optional<std::uint32_t> first, std::uint32_t end) {
  end = std::min<std::uint32_t>(end, static_cast<std::uint32_t>(records.size()));
  if (first && *first < end)
    list.insert(list.end(), records.begin() + *first, records.begin() + end);
}

// The first resource record a KF8 header names; when it names none, the
// record after the last text record. Record 0 of the section is its header,
// never a resource.
std::optional<std::uint32_t> Kf8FirstResource(const ByteReader &headerRecord,
                                              const BookSection &kf8) {
  const auto header = ReadMobiHeader(headerRecord);
  if (!header)
    return std::nullopt;
  if (header->firstImageRecord != kNullIndex && header->firstImageRecord != 0)
    return kf8.Record(header->firstImageRecord);
  return kf8.Record(std::uint32_t{header->textRecordCount} + 1);
}

// Writes a font resource and sets `fileName` and `family`; leaves `fileName`
// empty when the record holds no font. 0, or 14 when it cannot be written.
int WriteFontResource(const ByteReader &record, const std::string &folder, std::uint64_t number,
                      std::string &fileName, std::string &family) {
  const std::optional<FontFile> font = DecodeFontRecord(record);
  if (!font)
    return MOBI_OK;
  std::string name = "font_" + std::to_string(number) + "." + std::string(font->extension);
  if (int result = WriteResourceFile(folder, name, font->bytes))
    return result;
  fileName = std::move(name);
  family = FontFamilyName(font->bytes);
  return MOBI_OK;
}

} // namespace

std::vector<ByteReader> Kf8ResourceRecords(std::span<const ByteReader> records,
                                           const BookSections &sections) {
  std::vector<ByteReader> list;
  if (!sections.kf8 || sections.kf8->header >= records.size())
    return list;
  const BookSection &kf8 = *sections.kf8;
  if (sections.kind == BookKind::Hybrid && sections.mobi6) {
    const BookSection &mobi6 = *sections.mobi6;
    const auto header = ReadMobiHeader(records[mobi6.header]);
    // Record 0 is no resource: a first resource of 0 means the half has none.
    if (header && header->firstImageRecord != 0)
      AppendRange(list, records, mobi6.Record(header->firstImageRecord), mobi6.end);
  }
  AppendRange(list, records, Kf8FirstResource(records[kf8.header], kf8), kf8.end);
  return list;
}

std::uint32_t Kf8CoverOffset(std::span<const ByteReader> records, const BookSections &sections) {
  std::uint32_t cover = ExthFields::kNone;
  if (sections.kf8 && sections.kf8->header < records.size())
    cover = ReadExth(records[sections.kf8->header]).coverOffset;
  if (cover == ExthFields::kNone && sections.mobi6 && !records.empty())
    cover = ReadExth(records[sections.mobi6->header]).coverOffset;
  return cover;
}

int WriteKf8Resources(std::span<const ByteReader> resources, const std::string &folder,
                      const std::string &bookStem, std::uint32_t coverOffset,
                      Kf8Resources &written) {
  written.names.assign(resources.size() + 1, std::string());
  written.fontFamilies.assign(resources.size() + 1, std::string());
  for (std::size_t i = 0; i < resources.size(); ++i) {
    const std::uint64_t number = i + 1;
    std::string fileName;
    const int result = IsFontRecord(resources[i])
                           ? WriteFontResource(resources[i], folder, number, fileName,
                                               written.fontFamilies[number])
                           : WritePictureFile(folder, number, resources[i].Bytes(), fileName);
    if (result != MOBI_OK)
      return result;
    if (!fileName.empty())
      written.names[number] = bookStem + "_files/" + fileName;
  }
  if (coverOffset >= resources.size() || PictureExtension(resources[coverOffset].Bytes()).empty())
    return MOBI_OK;
  written.names[0] = written.names[coverOffset + 1];
  const auto cover = resources[coverOffset].Bytes();
  for (std::size_t i = 0; i < resources.size(); ++i)
    if (const auto bytes = resources[i].Bytes();
        i != coverOffset && !written.names[i + 1].empty() && std::ranges::equal(bytes, cover))
      written.coverCopies.push_back(written.names[i + 1]);
  return MOBI_OK;
}
