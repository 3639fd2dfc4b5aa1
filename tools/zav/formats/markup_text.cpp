#include "formats/markup_text.h"

#include <libxml/HTMLparser.h>

#include <cstring>

namespace zavtool {

namespace {

bool isBlock(const char *name) {
    static const char *const kBlocks[] = {"p",  "div",   "li",  "tr",         "h1",  "h2", "h3",
                                          "h4", "h5",    "h6",  "blockquote", "dd",  "dt", "ul",
                                          "ol", "table", "pre", "hr",         "def", "ar", "k"};
    for (const char *b : kBlocks)
        if (std::strcmp(name, b) == 0) return true;
    return false;
}

void endLine(std::string *out) {
    if (!out->empty() && out->back() != '\n') *out += '\n';
}

void appendText(const char *text, bool htmlSpacing, std::string *out) {
    if (!htmlSpacing) {
        *out += text;
        return;
    }
    for (const char *p = text; *p; ++p) {
        char c = *p;
        bool space = c == ' ' || c == '\t' || c == '\r' || (c == '\n' && htmlSpacing);
        if (space) {
            if (!out->empty() && out->back() != ' ' && out->back() != '\n') *out += ' ';
        } else {
            *out += c;
        }
    }
}

// libxml2 bounds the depth of the tree it builds, so the recursion is bounded.
void walk(xmlNode *node, bool htmlSpacing, std::string *out) {
    for (; node; node = node->next) {
        if (node->type == XML_TEXT_NODE || node->type == XML_CDATA_SECTION_NODE) {
            if (node->content) appendText(reinterpret_cast<const char *>(node->content), htmlSpacing, out);
            continue;
        }
        if (node->type != XML_ELEMENT_NODE) continue;
        const char *name = reinterpret_cast<const char *>(node->name);
        if (std::strcmp(name, "script") == 0 || std::strcmp(name, "style") == 0) continue;
        if (std::strcmp(name, "br") == 0) {
            if (!out->empty() && out->back() == ' ') out->pop_back();
            *out += '\n';
            continue;
        }
        bool block = isBlock(name);
        if (block) endLine(out);
        walk(node->children, htmlSpacing, out);
        if (block) endLine(out);
    }
}

// Trailing spaces of every line go, and so do blank lines at both ends and
// runs of more than one blank line; indentation stays.
std::string tidy(const std::string &text) {
    std::string out;
    size_t blank = 0;
    for (size_t at = 0; at <= text.size();) {
        size_t nl = text.find('\n', at);
        if (nl == std::string::npos) nl = text.size();
        std::string line = text.substr(at, nl - at);
        size_t end = line.find_last_not_of(' ');
        line.resize(end == std::string::npos ? 0 : end + 1);
        size_t begin = line.find_first_not_of(' ');
        if (begin == std::string::npos) {
            ++blank;
        } else {
            if (!out.empty()) out += blank > 0 ? "\n\n" : "\n";
            out += line;
            blank = 0;
        }
        at = nl + 1;
    }
    return out;
}

}  // namespace

std::string markupToText(const std::string &markup, bool htmlSpacing) {
    if (markup.empty()) return markup;
    htmlDocPtr doc = htmlReadMemory(markup.data(), static_cast<int>(markup.size()), nullptr, "UTF-8",
                                    HTML_PARSE_RECOVER | HTML_PARSE_NOERROR | HTML_PARSE_NOWARNING | HTML_PARSE_NONET);
    if (!doc) return markup;
    std::string out;
    walk(xmlDocGetRootElement(doc), htmlSpacing, &out);
    xmlFreeDoc(doc);
    return tidy(out);
}

}  // namespace zavtool
