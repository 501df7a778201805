#include "mobi_operator.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <new>

#include "byte_reader.h"
#include "mobi_html.h"
#include "tarn_mobi.h"

// ---------------------------------------------------------------------------
// Record 0

int MobiOperator::ProcessZeroRecord() { return MOBI_OK; }

// ---------------------------------------------------------------------------
// Opening, records and the unpacking order

namespace {

bool FilesOpened(const FILES *files) {
  return files != nullptr && files->count > 0 && files->streams != nullptr &&
         files->streams[0] != nullptr;
}

std::uint64_t SizeOfFile(FILES *files) {
  if (FilesSeek(files, 0, FILES_SEEK_END) != 0)
    return 0;
  std::uint64_t size = FilesTell(files);
  FilesSeek(files, 0, FILES_SEEK_SET);
  return size;
}

// The file name of `path` without its folder and without its last extension.
std::string StemOf(const std::string &path) {
  std::string name = path.substr(path.rfind('/') + 1);
  std::size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

} // namespace

MobiOperator::~MobiOperator() { Destroy(); }

int MobiOperator::Init(const char *path) {
  try {
    const char *paths[] = {path};
    file = FilesOpen(paths, 1, "rb");
    if (!FilesOpened(file))
      return MOBI_ERR_OPEN;
    fileSize = SizeOfFile(file);
    header = std::make_unique<PdbHeader>();
    header->read(file);
    if (header->typeCreator != "BOOKMOBI")
      return MOBI_ERR_NOT_MOBI;
    record0 = std::make_unique<PdbRecord0>();
    imageNames.assign(1, std::string());
    return MOBI_OK;
  } catch (const std::bad_alloc &) {
    return MOBI_ERR_MEMORY;
  }
}

void MobiOperator::Destroy() {
  if (file != nullptr) {
    FilesClose(file);
    file = nullptr;
  }
  header.reset();
  huff.reset();
  record0.reset();
}

std::uint32_t MobiOperator::RecordCount() const {
  return header ? static_cast<std::uint32_t>(header->recordOffsets.size()) : 0;
}

std::uint32_t MobiOperator::LoadSection(std::uint32_t index) {
  const std::uint32_t count = RecordCount();
  if (index >= count)
    return 0;
  const std::uint32_t offset = header->recordOffsets[index];
  FilesSeek(file, offset, FILES_SEEK_SET);
  if (index == count - 1)
    return 0x0FFFFFFFu - offset;
  return header->recordOffsets[index + 1] - offset;
}

std::vector<std::uint8_t> MobiOperator::ReadSection(std::uint32_t index, std::uint32_t limit) {
  const std::uint32_t length = LoadSection(index);
  if (length == 0)
    return {};
  const std::uint64_t offset = header->recordOffsets[index];
  const std::uint64_t left = offset < fileSize ? fileSize - offset : 0;
  std::vector<std::uint8_t> bytes(
      static_cast<std::size_t>(std::min<std::uint64_t>({length, limit, left})));
  if (!bytes.empty())
    bytes.resize(FilesRead(bytes.data(), bytes.size(), 1, file));
  return bytes;
}

int MobiOperator::UnpackBook(const char *htmlPath) {
  if (!IsOpen())
    return MOBI_ERR_NOT_OPEN;
  const std::string path = htmlPath != nullptr ? htmlPath : "";
  char *folder = PathGetFolder(path.c_str());
  if (folder == nullptr)
    return MOBI_ERR_MEMORY;
  outputFolder = folder;
  std::free(folder);
  bookStem = StemOf(path);
  if (!PathExists(outputFolder.c_str()))
    return MOBI_ERR_NO_FOLDER;

  // A second run starts from a fresh list and decoder rather than piling up.
  imageNames.assign(1, std::string());
  huff.reset();

  if (int result = ProcessZeroRecord())
    return result;
  if (int result = ProcessMetaInfo())
    return result;
  if (int result = ProcessTextRecord(path.c_str()))
    return result;
  if (int result = ProcessImageRecord())
    return result;
  if (record0->textEncoding != 1252 && record0->textEncoding != 65001)
    return MOBI_ERR_ENCODING;
  if (imageNames.size() == 1 && imageNames[0].empty())
    return MOBI_OK;
  return MobiHtmlProcess2(path.c_str(), imageNames);
}

const std::optional<std::string> &MobiOperator::GetTitle() const { return record0->title; }

const std::optional<std::string> &MobiOperator::GetAuthor() const { return record0->author; }

const std::string &MobiOperator::GetCoverImageName() const { return imageNames.front(); }

// ---------------------------------------------------------------------------
// EXTH metadata

int MobiOperator::ProcessMetaInfo() { return MOBI_OK; }

// ---------------------------------------------------------------------------
// Text records

int MobiOperator::ProcessTextRecord(const char *) { return MOBI_OK; }

// ---------------------------------------------------------------------------
// Image records

int MobiOperator::ProcessImageRecord() { return MOBI_OK; }

int MobiOperator::GenImage(std::int32_t, std::string &) { return 1; }
