// Picture records: telling a picture from any other record, and writing it
// into the book's image folder.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The file extension for a record whose content is a picture (JPEG, GIF, PNG
// or BMP); empty for every other record. JPEG records are named like GIF ones:
// the program re-encodes both by their content.
std::string_view PictureExtension(std::span<const std::uint8_t> record);

// Writes picture number `number` as "image_N.EXT" into `folder` (created when
// missing; the name ends in "/") and sets `fileName` to its name; leaves
// `fileName` empty when the record is no picture. 0, or 14 when the file
// cannot be written whole (no file is left).
int WritePictureFile(const std::string &folder, std::uint64_t number,
                     std::span<const std::uint8_t> record, std::string &fileName);

// Writes `bytes` as `fileName` into `folder` (created when missing; the name
// ends in "/"). 0, or 14 (no file left) when it cannot be written whole.
int WriteResourceFile(const std::string &folder, const std::string &fileName,
                      std::span<const std::uint8_t> bytes);
