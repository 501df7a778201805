#include "container/book_records.h"

#include <algorithm>

BookRecords::BookRecords(std::vector<std::uint8_t> file, const std::vector<std::uint32_t> &offsets)
    : file_(std::move(file)) {
  std::vector<std::uint32_t> starts(offsets);
  std::sort(starts.begin(), starts.end());
  const std::span<const std::uint8_t> whole(file_);
  records_.reserve(offsets.size());
  for (std::size_t i = 0; i < offsets.size(); ++i) {
    const std::uint32_t start = offsets[i];
    if (start >= file_.size()) {
      records_.emplace_back();
      continue;
    }
    // A record ends where the next one in the list starts; when that one lies
    // before it (a damaged list), where the next one starts in the file, so
    // no record swallows the others.
    std::uint64_t end = file_.size();
    if (i + 1 < offsets.size() && offsets[i + 1] >= start) {
      end = offsets[i + 1];
    } else if (const auto next = std::upper_bound(starts.begin(), starts.end(), start);
               next != starts.end()) {
      end = *next;
    }
    end = std::min<std::uint64_t>(end, file_.size());
    records_.emplace_back(whole.subspan(start, static_cast<std::size_t>(end - start)));
  }
}
