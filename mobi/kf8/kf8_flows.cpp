#include "kf8/kf8_flows.h"

#include <algorithm>

namespace {

constexpr std::size_t kTableOffset = 12;
constexpr std::size_t kRangeSize = 8;

bool IsFdst(ByteReader fdst) {
  const auto magic = fdst.U32BE(0);
  return magic && *magic == 0x46445354u /* FDST */ && fdst.U32BE(4) == kTableOffset;
}

} // namespace

FlowKind ClassifyFlow(std::string_view text) {
  if (text.find("<svg") != std::string_view::npos)
    return FlowKind::Svg;
  if (text.find("[CDATA[") != std::string_view::npos)
    return FlowKind::StyleSnippet;
  return FlowKind::StyleSheet;
}

std::optional<std::vector<Flow>> SplitFlows(std::string_view text, ByteReader fdst,
                                            std::uint32_t declaredCount) {
  if (declaredCount <= 1)
    return std::vector<Flow>{{text, FlowKind::Markup}};
  if (!IsFdst(fdst))
    return std::nullopt;
  const std::uint32_t stored = fdst.U32BE(8).value_or(0);
  // Only the ranges the record really holds count, whatever it claims.
  const std::size_t count =
      std::min<std::size_t>(stored, (fdst.Size() - kTableOffset) / kRangeSize);
  if (count == 0)
    return std::nullopt;
  std::vector<Flow> flows;
  flows.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t at = kTableOffset + i * kRangeSize;
    const std::size_t start = std::min<std::size_t>(*fdst.U32BE(at), text.size());
    const std::size_t end = std::clamp<std::size_t>(*fdst.U32BE(at + 4), start, text.size());
    const std::string_view flow = text.substr(start, end - start);
    flows.push_back({flow, i == 0 ? FlowKind::Markup : ClassifyFlow(flow)});
  }
  return flows;
}
