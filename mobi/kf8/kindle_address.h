// The book-internal addresses of KF8 markup and styles that name a resource
// or a flow: "kindle:embed:NNNN?mime=…" and "kindle:flow:NNNN?mime=…".
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

struct KindleAddress {
  enum class Kind { Embed, Flow };
  Kind kind = Kind::Embed;
  std::uint32_t number = 0;    // resource number (1-based) or flow number
  std::string_view mime;       // the "?mime=" value, or empty
};

// A number in the base-32 digits 0-9 and A-V (either case). More than six
// significant digits is beyond any book and taken as damage.
inline std::optional<std::uint32_t> Base32Number(std::string_view digits) {
  if (digits.empty())
    return std::nullopt;
  std::uint32_t value = 0;
  int significant = 0;
  for (char c : digits) {
    std::uint32_t digit;
    if (c >= '0' && c <= '9')
      digit = static_cast<std::uint32_t>(c - '0');
    else if (c >= 'A' && c <= 'V')
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    else if (c >= 'a' && c <= 'v')
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    else
      return std::nullopt;
    if (value != 0 || digit != 0)
      ++significant;
    if (significant > 6)
      return std::nullopt;
    value = value * 32 + digit;
  }
  return value;
}

// The address in `url`, or nothing when it is not one of the two forms.
inline std::optional<KindleAddress> ParseKindleAddress(std::string_view url) {
  KindleAddress address;
  constexpr std::string_view kEmbed = "kindle:embed:";
  constexpr std::string_view kFlow = "kindle:flow:";
  if (url.starts_with(kEmbed)) {
    url.remove_prefix(kEmbed.size());
  } else if (url.starts_with(kFlow)) {
    address.kind = KindleAddress::Kind::Flow;
    url.remove_prefix(kFlow.size());
  } else {
    return std::nullopt;
  }
  const std::size_t query = url.find('?');
  const std::optional<std::uint32_t> number = Base32Number(url.substr(0, query));
  if (!number)
    return std::nullopt;
  address.number = *number;
  constexpr std::string_view kMime = "?mime=";
  if (query != std::string_view::npos && url.substr(query).starts_with(kMime))
    address.mime = url.substr(query + kMime.size());
  return address;
}
