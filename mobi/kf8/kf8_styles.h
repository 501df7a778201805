// The book's style sheets rewritten for the one merged HTML document and the
// renderer that prints it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "kf8/kf8_resources.h"

// The text of flow `flow` (the number of a "kindle:flow:" address), or
// nothing when the book has no such flow.
using FlowText = std::function<std::optional<std::string_view>(std::uint32_t flow)>;

// A style sheet (a CSS flow or a <style> element's text), rewritten so that
// - "@media amzn-kf8" blocks apply in every medium and "@media amzn-mobi"
//   blocks are gone, at any depth of nested at-rules;
// - url(kindle:embed:N) names the file written for resource N, and an
//   @font-face source that is a font resource first asks for the font by
//   its family (the renderer embeds fonts it finds on disk by family in the
//   PDF, and only draws the outlines of fonts it loads itself);
// - "@import" of a kindle:flow is replaced by that flow's rewritten text, and
//   url(kindle:flow:N) becomes a data address holding the flow.
// No "kindle:" address is left; one that names nothing becomes "data:,".
std::string RewriteStyleSheet(std::string_view css, const Kf8Resources &resources,
                              const FlowText &flows);

// The value of a style="…" attribute, rewritten the same way. The result
// adds no double quote, so it stays inside a double-quoted attribute.
std::string RewriteStyleAttribute(std::string_view declarations, const Kf8Resources &resources,
                                  const FlowText &flows);
