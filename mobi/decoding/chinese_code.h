// Character code conversion between UTF-8, UTF-16 and the GBK double-byte code.
#pragma once

#include <string>

// Stateless conversions. The double-byte side is the GBK (CP936) table, built
// once from glibc's iconv; a pair the table cannot convert becomes U+FFFD.
class ChineseCode {
public:
  // The unit of a UTF-8 sequence of one to three bytes at `text` (its lead
  // byte decides the length).
  static void UTF_8ToUnicode(char16_t *unit, const char *text);
  // Writes the shortest UTF-8 form of `*unit` (one to three bytes, no
  // terminator) and returns its length; a lone surrogate becomes U+FFFD.
  static int UnicodeToUTF_8(char *out, const char16_t *unit);
  // The unit of the double-byte pair at `text`; returns the units written (1).
  static int Gb2312ToUnicode(char16_t *unit, const char *text);
  // The GBK form of `unit`: one byte for ASCII, two for a table character,
  // "?" when the table has none. Returns the bytes written.
  static int UnicodeToGB2312(char *out, char16_t unit);

  // GBK text (up to its first NUL, at most `len` bytes) as UTF-8.
  static void GB2312ToUTF_8(std::string &result, const char *text, int len);
  // UTF-8 text (at most `len` bytes) as GBK; a sequence cut off by the end is
  // dropped.
  static void UTF_8ToGB2312(std::string &result, const char *text, int len);
  // Windows-1252 text (`len` bytes) as UTF-8; its five unassigned bytes
  // become U+FFFD.
  static void Windows1252ToUTF_8(std::string &result, const char *text, int len);

  // True when the bytes are well-formed UTF-8 (no overlong forms, surrogates
  // or values past U+10FFFF) and hold at least one byte of 0x80 or above.
  static bool IsTextUTF8(const char *text, int len);
  // True when every byte of 0x80 or above opens a pair whose two bytes both
  // lie in 0xA1-0xFE, the GB2312 rows.
  static bool PairsIntoGB2312(const char *text, int len);
};
