// Base64 (RFC 4648, with padding), the form the DevTools protocol carries
// bytes in.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace wkhtmltox {

std::string Base64Encode(std::string_view bytes);
// Nothing when `text` is not Base64.
std::optional<std::string> Base64Decode(std::string_view text);

} // namespace wkhtmltox
