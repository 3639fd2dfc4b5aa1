// Markup (HTML, Pango markup, XDXF) as readable plain text, through
// libxml2's forgiving HTML parser: tags are dropped, entities resolved, and
// <br> and block elements become line breaks.
#ifndef ZAV_TOOL_MARKUP_TEXT_H
#define ZAV_TOOL_MARKUP_TEXT_H

#include <string>

namespace zavtool {

// `markup` is UTF-8. With `htmlSpacing`, runs of white space (line breaks
// included) count as one space, as in HTML; otherwise line breaks in the
// text are kept, as in Pango markup and XDXF.
std::string markupToText(const std::string &markup, bool htmlSpacing);

}  // namespace zavtool

#endif
