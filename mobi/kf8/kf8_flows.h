// The flows of a KF8 text: flow 0 is the book's markup, the others are what
// the book's maker pulled out of it (style sheets, SVG pictures, style
// snippets), located by the FDST record.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "common/byte_reader.h"

enum class FlowKind { Markup, StyleSheet, Svg, StyleSnippet };

struct Flow {
  std::string_view text; // a view into the decoded text
  FlowKind kind = FlowKind::Markup;
};

// The flows of `text`. `declaredCount` is the header's flow count: when it is
// at most 1 the FDST record may be garbage, and the whole text is flow 0.
// Each stored range is clamped to the text. Nothing when several flows are
// declared and `fdst` is not a usable FDST record.
std::optional<std::vector<Flow>> SplitFlows(std::string_view text, ByteReader fdst,
                                            std::uint32_t declaredCount);

// What a flow other than flow 0 holds, judged by its content.
FlowKind ClassifyFlow(std::string_view text);
