// Most-significant-bit-first reader, and the trailing entries of text records.
#pragma once

#include <bit>
#include <cstdint>
#include <cstring>
#include <span>

// Hands out up to 32 bits at a time from a byte string, first bit most
// significant. Bits past the end read as 0, so a code near the end can be
// looked up before it is known to fit; Eat reports whether it did.
// The reader only views the bytes: the caller keeps them alive.
class BitReader {
public:
  explicit BitReader(std::span<const std::uint8_t> bytes)
      : bytes_(bytes), bitCount_(std::uint64_t{bytes.size()} * 8) {}

  // The next `n` bits (1 to 32) in the low bits of the result; 0 for other `n`.
  std::uint64_t Peek(std::uint32_t n) const {
    if (n == 0 || n > 32)
      return 0;
    return Peek32() >> (32 - n);
  }

  // The next 32 bits, zero-filled past the end.
  std::uint32_t Peek32() const {
    return static_cast<std::uint32_t>((Window(pos_ >> 3) << (pos_ & 7)) >> 32);
  }

  // Consumes `n` bits; false when that went past the end.
  bool Eat(std::uint32_t n) {
    pos_ += n;
    return pos_ <= bitCount_;
  }

  // Bits not yet consumed; 0 once the reader has reached or passed its end.
  std::uint64_t Left() const { return pos_ < bitCount_ ? bitCount_ - pos_ : 0; }

private:
  // Eight bytes from byte `index` on, big-endian, with zeros past the end.
  std::uint64_t Window(std::uint64_t index) const {
    std::uint64_t window = 0;
    if (index + 8 <= bytes_.size()) {
      std::memcpy(&window, bytes_.data() + index, 8);
      return FromBigEndian(window);
    }
    for (std::uint64_t i = 0; i < 8; ++i) {
      window <<= 8;
      if (index + i < bytes_.size())
        window |= bytes_[index + i];
    }
    return window;
  }

  static std::uint64_t FromBigEndian(std::uint64_t value) {
    if constexpr (std::endian::native == std::endian::little)
      return __builtin_bswap64(value);
    return value;
  }

  std::span<const std::uint8_t> bytes_;
  std::uint64_t pos_ = 0;
  std::uint64_t bitCount_;
};

// The value of the backward variable-width integer that ends at the last byte
// of `data`: 7 bits per byte, lowest group last, the first byte marked by its
// top bit; at most 4 bytes are read. 0 for empty data.
std::uint32_t ReadVariableWidthIntegerBE(std::span<const std::uint8_t> data);

// Total size of the trailing entries at the end of `record` that
// `extraDataFlags` announces; may reach or pass the record's size when the
// record is damaged. Bits 1 to 15 each announce one entry ending in its own
// size, the lowest bit's entry last in the record; bit 0 announces the
// multibyte overlap just after the text, whose size is the low two bits of
// its last byte plus one.
std::uint32_t SizeOfTrailingEntries(std::span<const std::uint8_t> record,
                                    std::uint32_t extraDataFlags);
