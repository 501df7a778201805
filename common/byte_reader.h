// Bounds-checked big- and little-endian reads over a byte range. Every parser
// of the library reads through this, so no field is read outside its record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

class ByteReader {
public:
  ByteReader() = default;
  explicit ByteReader(std::span<const std::uint8_t> bytes) : bytes_(bytes) {}

  std::size_t Size() const { return bytes_.size(); }
  std::span<const std::uint8_t> Bytes() const { return bytes_; }

  // True when `length` bytes starting at `offset` lie inside the range.
  bool Holds(std::size_t offset, std::size_t length) const {
    return offset <= bytes_.size() && length <= bytes_.size() - offset;
  }

  std::optional<std::uint8_t> U8(std::size_t offset) const {
    if (!Holds(offset, 1))
      return std::nullopt;
    return bytes_[offset];
  }

  std::optional<std::uint16_t> U16BE(std::size_t offset) const {
    if (!Holds(offset, 2))
      return std::nullopt;
    return static_cast<std::uint16_t>(bytes_[offset] << 8 | bytes_[offset + 1]);
  }

  std::optional<std::uint32_t> U32BE(std::size_t offset) const {
    if (!Holds(offset, 4))
      return std::nullopt;
    return std::uint32_t{bytes_[offset]} << 24 | std::uint32_t{bytes_[offset + 1]} << 16 |
           std::uint32_t{bytes_[offset + 2]} << 8 | std::uint32_t{bytes_[offset + 3]};
  }

  std::optional<std::uint32_t> U32LE(std::size_t offset) const {
    if (!Holds(offset, 4))
      return std::nullopt;
    return std::uint32_t{bytes_[offset + 3]} << 24 | std::uint32_t{bytes_[offset + 2]} << 16 |
           std::uint32_t{bytes_[offset + 1]} << 8 | std::uint32_t{bytes_[offset]};
  }

  // The sub-range [offset, offset + length), or nothing when it does not fit.
  std::optional<ByteReader> Slice(std::size_t offset, std::size_t length) const {
    if (!Holds(offset, length))
      return std::nullopt;
    return ByteReader(bytes_.subspan(offset, length));
  }

  // Everything from `offset` on; empty when `offset` lies past the end.
  ByteReader From(std::size_t offset) const {
    return offset < bytes_.size() ? ByteReader(bytes_.subspan(offset)) : ByteReader();
  }

private:
  std::span<const std::uint8_t> bytes_;
};
