// The KF8 rendition of a book held in memory: the input's record table read
// as the library reads it, its sections told apart, and the KF8 section
// unpacked with its HTML sent to /dev/null and its resources into the
// process's scratch folder. Every run must end with a code the unpacking is
// documented to return; the sanitizers catch the rest.
//
// Its mutator keeps the record table sound: it changes the bytes inside one
// record (the KF8 header, FDST, the index records, text, resources), points a
// header field at another record, or swaps in a record of another input, then
// writes the table anew. A mutation of the raw file mostly breaks the table
// and stops at the container; these reach the assembly of the parts.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <span>
#include <string>
#include <vector>

#include "container/book_records.h"
#include "container/book_sections.h"
#include "container/exth_header.h"
#include "container/mobi_header.h"
#include "container/pdb_reader.h"
#include "fuzz_check.h"
#include "kf8/kf8_rendition.h"
#include "mobi_writer.h"
#include "tarn_mobi.h"

// libFuzzer's own mutation, for the bytes of one record; absent (and never
// called) in the replay program.
extern "C" std::size_t LLVMFuzzerMutate(std::uint8_t *data, std::size_t size, std::size_t maxSize)
    __attribute__((weak));

namespace {

using testbook::Bytes;

constexpr char kResourceFolder[] = "book_files";

bool IsUnpackResult(int result) {
  switch (result) {
  case MOBI_OK:
  case MOBI_ERR_COMPRESSION:
  case MOBI_ERR_RECORD_SIZE:
  case MOBI_ERR_ENCRYPTED:
  case MOBI_ERR_DAMAGED:
  case MOBI_ERR_KF8:
  case MOBI_ERR_TEXT_SIZE:
    return true;
  default:
    return false;
  }
}

// The input as the library holds a book: its records read through the table.
struct Book {
  PdbHeader header;
  std::unique_ptr<BookRecords> records;
  BookSections sections;
};

Book ReadBook(std::span<const std::uint8_t> input) {
  Book book;
  book.header.read(input);
  book.records =
      std::make_unique<BookRecords>(Bytes(input.begin(), input.end()), book.header.recordOffsets);
  book.sections = FindSections(*book.records);
  return book;
}

// The records a mutation aims at: the KF8 header, the records its index
// fields name with the two after each (an index's entry and CNCX records),
// the text records, and all the others.
struct Targets {
  std::vector<std::uint32_t> tables;
  std::vector<std::uint32_t> text;
};

Targets TargetsOf(const Book &book) {
  Targets targets;
  if (!book.sections.kf8)
    return targets;
  const BookSection &kf8 = *book.sections.kf8;
  const std::optional<MobiHeader> header = ReadMobiHeader(book.records->Record(kf8.header));
  targets.tables.push_back(kf8.header);
  if (!header)
    return targets;
  for (std::uint32_t field : {header->fdstIndex, header->skeletonIndex, header->fragmentIndex,
                              header->ncxIndex, header->guideIndex})
    for (std::uint32_t next = 0; next < 3; ++next)
      if (const auto record = kf8.Record(field); record && kf8.Holds(*record + next))
        targets.tables.push_back(*record + next);
  for (std::uint32_t i = 0; i < kf8.TextRecordCount(header->textRecordCount); ++i)
    targets.text.push_back(kf8.FirstTextRecord() + i);
  return targets;
}

// The book's records as separate byte strings, to be changed and written anew.
struct EditableBook {
  std::string name;
  std::string typeCreator;
  std::vector<Bytes> records;
  Targets targets;

  explicit EditableBook(const Book &book)
      : name(book.header.databaseName.c_str()), typeCreator(book.header.typeCreator),
        targets(TargetsOf(book)) {
    for (const ByteReader &record : book.records->All())
      records.emplace_back(record.Bytes().begin(), record.Bytes().end());
  }

  // Writes the book into `out` when it fits `maxSize`: its size, else 0.
  std::size_t Write(std::uint8_t *out, std::size_t maxSize) const {
    const Bytes file = testbook::BuildPdb(records, name, typeCreator);
    if (file.size() > maxSize)
      return 0;
    std::memcpy(out, file.data(), file.size());
    return file.size();
  }
};

template <typename List> auto Pick(const List &list, std::minstd_rand &random) {
  return list[random() % list.size()];
}

// Mutates the bytes of `record` in place with libFuzzer's mutations, letting
// it grow by at most `room` bytes.
void MutateRecord(Bytes &record, std::size_t room) {
  const std::size_t size = record.size();
  record.resize(size + std::min<std::size_t>(room, size + 64));
  if (!record.empty())
    record.resize(LLVMFuzzerMutate(record.data(), size, record.size()));
}

// Points one of the KF8 header's record fields (or its flow count) at a
// record of the section or just past it, or at none.
void RetargetField(EditableBook &book, std::minstd_rand &random) {
  const std::uint32_t kf8Header = book.targets.tables.front();
  Bytes &header = book.records[kf8Header];
  namespace r0 = testbook::r0;
  static constexpr std::array<std::size_t, 7> kFields{
      r0::kFdstIndex, r0::kFdstFlowCount, r0::kSkeletonIndex,   r0::kFragmentIndex,
      r0::kNcxIndex,  r0::kGuideIndex,    r0::kFirstImageRecord}; // KF8's first resource
  const std::size_t field = Pick(kFields, random);
  if (header.size() < field + 4)
    return;
  const std::size_t sectionSize = book.records.size() - kf8Header;
  const std::uint32_t value =
      random() % 8 == 0 ? kNullIndex : static_cast<std::uint32_t>(random() % (sectionSize + 2));
  testbook::PutU32BE(header, field, value);
}

// One record for a mutation: often the header or a table, often a text
// record, sometimes any.
std::uint32_t PickRecord(const EditableBook &book, std::minstd_rand &random) {
  const unsigned roll = random() % 10;
  if (roll < 4 && !book.targets.tables.empty())
    return Pick(book.targets.tables, random);
  if (roll < 8 && !book.targets.text.empty())
    return Pick(book.targets.text, random);
  return static_cast<std::uint32_t>(random() % book.records.size());
}

// The record of `book` in the role `other[record]` has in its own book: the
// same table record, a text record for a text record, else any.
std::uint32_t SameRole(const EditableBook &book, const Targets &other, std::uint32_t record,
                       std::minstd_rand &random) {
  const auto table = std::find(other.tables.begin(), other.tables.end(), record);
  const auto position = static_cast<std::size_t>(table - other.tables.begin());
  if (table != other.tables.end() && position < book.targets.tables.size())
    return book.targets.tables[position];
  const bool text = std::find(other.text.begin(), other.text.end(), record) != other.text.end();
  if (text && !book.targets.text.empty())
    return Pick(book.targets.text, random);
  return static_cast<std::uint32_t>(random() % book.records.size());
}

std::size_t BookSize(const EditableBook &book) {
  std::size_t size = PdbHeader::kHeaderSize + 2;
  for (const Bytes &record : book.records)
    size += PdbHeader::kRecordEntrySize + record.size();
  return size;
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *argc, char ***argv) {
  fuzz::DefaultMaxLen(argc, argv, fuzz::kMaxKf8Book);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size) {
  const Book book = ReadBook({data, size});
  if (book.header.typeCreator != "BOOKMOBI" || !book.sections.kf8)
    return 0;
  const std::string folder = fuzz::Scratch().File(kResourceFolder) + "/";
  const std::string title =
      FullName(book.records->Record(book.sections.kf8->header)).value_or(std::string());
  Kf8Unpacked unpacked;
  const int result = UnpackKf8Rendition(*book.records, book.sections,
                                        {"/dev/null", folder, "book", title}, unpacked);
  FUZZ_CHECK(IsUnpackResult(result));
  FUZZ_CHECK(unpacked.coverName.empty() || unpacked.coverName.starts_with("book_files/image_"));
  fuzz::RemoveFromScratch(kResourceFolder);
  return 0;
}

extern "C" std::size_t LLVMFuzzerCustomMutator(std::uint8_t *data, std::size_t size,
                                               std::size_t maxSize, unsigned int seed) {
  std::minstd_rand random(seed);
  const Book book = ReadBook({data, size});
  // A book without a KF8 section, and now and then any book, is mutated whole,
  // so the container's own checks are not left out.
  if (!book.sections.kf8 || book.records->Count() == 0 || random() % 64 == 0)
    return LLVMFuzzerMutate(data, size, maxSize);
  EditableBook editable(book);
  if (random() % 16 == 0) {
    RetargetField(editable, random);
  } else {
    const std::size_t used = BookSize(editable);
    MutateRecord(editable.records[PickRecord(editable, random)],
                 maxSize > used ? maxSize - used : 0);
  }
  const std::size_t written = editable.Write(data, maxSize);
  return written != 0 ? written : LLVMFuzzerMutate(data, size, maxSize);
}

// Puts a record of the second book in place of the one in the same role in
// the first: a header, a table, text, a font or a picture from one book in
// the structure of another.
extern "C" std::size_t LLVMFuzzerCustomCrossOver(const std::uint8_t *data1, std::size_t size1,
                                                 const std::uint8_t *data2, std::size_t size2,
                                                 std::uint8_t *out, std::size_t maxOutSize,
                                                 unsigned int seed) {
  std::minstd_rand random(seed);
  const Book first = ReadBook({data1, size1});
  const Book second = ReadBook({data2, size2});
  if (!first.sections.kf8 || !second.sections.kf8)
    return 0;
  EditableBook into(first);
  const EditableBook from(second);
  const std::uint32_t record = PickRecord(from, random);
  into.records[SameRole(into, from.targets, record, random)] = from.records[record];
  return into.Write(out, maxOutSize);
}
