// Picture records: telling a picture from any other record, and writing it
// into the book's image folder.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The file extension for a record whose content is a picture (JPEG, GIF, PNG
// or BMP); empty for every other record. JPEG records are named like GIF ones:
// the program re-encodes both by their content.
std::string_view PictureExtension(std::span<const std::uint8_t> record);

// Writes picture number `number` as "image_N.EXT" into `folder` (created when
// missing; the name ends in "/"). Returns the file name, or nothing when the
// record is no picture or the file cannot be written whole (no file is left).
std::optional<std::string> WritePictureFile(const std::string &folder, std::uint64_t number,
                                            std::span<const std::uint8_t> record);

// Writes `bytes` as `fileName` into `folder` (created when missing; the name
// ends in "/"). False, and no file left, when it cannot be written whole.
bool WriteResourceFile(const std::string &folder, const std::string &fileName,
                       std::span<const std::uint8_t> bytes);
