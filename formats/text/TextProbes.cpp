#include "formats/text/TextProbes.h"

#include <string_view>

#include "core/ByteUtils.h"
#include "core/Limits.h"

using kiv::ByteSource;
using kiv::ByteView;

namespace {

const unsigned char rtfFormatChk[] = {'{', '\\', 'r', 't', 'f'};
constexpr char svgTag[] = "</svg";
constexpr char rdfTagSig_1[] = "</rdf:RDF>";
constexpr char rdfTagSig_2[] = "</r:RDF>";
constexpr char rdfTagSig_3[] = "</RDF>";
constexpr char htmlTag[] = "</html>";

template <size_t N>
bool viewContains(const ByteView& v, const char (&needle)[N]) {
    return v.find(needle, N - 1) != ByteView::npos;
}

constexpr std::string_view kPhpOpenTag = "<?php";

bool isSpaceOrTab(char c) { return c == ' ' || c == '\t'; }

bool opensWithPhpTag(std::string_view text) {
    return text.size() >= kPhpOpenTag.size() &&
           kiv::equalsIgnoringAsciiCase(text.substr(0, kPhpOpenTag.size()), kPhpOpenTag);
}

// The next word of text from at on, words being separated by spaces and tabs; empty at the end.
std::string_view nextWord(std::string_view text, size_t& at) {
    while (at < text.size() && isSpaceOrTab(text[at])) ++at;
    const size_t from = at;
    while (at < text.size() && !isSpaceOrTab(text[at])) ++at;
    return text.substr(from, at - from);
}

std::string_view baseName(std::string_view path) {
    const size_t slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

// The name of the program an interpreter line (the text after "#!") runs: the interpreter's
// own, or, when that is env, the command env runs after its options and variable settings.
std::string_view interpreterName(std::string_view line) {
    size_t at = 0;
    std::string_view name = baseName(nextWord(line, at));
    if (name != "env") return name;
    for (std::string_view word = nextWord(line, at); !word.empty(); word = nextWord(line, at)) {
        if (word[0] != '-' && word.find('=') == std::string_view::npos) return baseName(word);
    }
    return {};
}

// "php", or a versioned name such as "php8.2".
bool isPhpName(std::string_view name) {
    if (name.substr(0, 3) != "php") return false;
    for (char c : name.substr(3))
        if (!(kiv::isAsciiDigit(static_cast<unsigned char>(c)) || c == '.')) return false;
    return true;
}

}  // namespace

ScriptHead scriptByHead(const ByteSource& src) {
    const ByteView head = src.head(kiv::limits::kScriptHeadWindow);
    const std::string_view text(reinterpret_cast<const char*>(head.data), head.size);
    if (opensWithPhpTag(text.substr(0, kiv::kUtf8Bom.size()) == kiv::kUtf8Bom ? text.substr(kiv::kUtf8Bom.size()) : text))
        return ScriptHead::Php;
    if (text.substr(0, 2) != "#!") return ScriptHead::None;

    // The interpreter line, without its LF or CRLF; one that runs past the window says nothing.
    const size_t lf = text.find('\n');
    if (lf == std::string_view::npos && head.size < src.size()) return ScriptHead::None;
    size_t next = lf == std::string_view::npos ? text.size() : lf + 1;
    std::string_view line = text.substr(2, (lf == std::string_view::npos ? text.size() : lf) - 2);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    const std::string_view name = interpreterName(line);
    if (name == "pwsh") return ScriptHead::PowerShell;
    if (!isPhpName(name)) return ScriptHead::None;

    // Blank lines (white space at most), then the open tag at the start of a line.
    for (;;) {
        size_t at = next;
        while (at < text.size() && isSpaceOrTab(text[at])) ++at;
        if (at < text.size() && text[at] == '\r') ++at;
        if (at >= text.size() || text[at] != '\n') break;
        next = at + 1;
    }
    return opensWithPhpTag(text.substr(next)) ? ScriptHead::Php : ScriptHead::None;
}

bool isRTF(const ByteSource& src) {
    return src.size() >= sizeof rtfFormatChk && checkBytesMatch(src, rtfFormatChk, sizeof rtfFormatChk, 0) == 1;
}

int detemineSVGorRDForHTML(const ByteSource& src) {
    const ByteView t = src.tail(kiv::limits::kClosingTagWindow);
    if (viewContains(t, svgTag)) return 1;
    if (viewContains(t, rdfTagSig_1) || viewContains(t, rdfTagSig_2) || viewContains(t, rdfTagSig_3)) return 2;
    if (viewContains(t, htmlTag)) return 3;
    return 0;
}

bool isRTF(const std::string& path, unsigned long) { return isRTF(kiv::FileByteSource(path)); }
int detemineSVGorRDForHTML(const std::string& path, unsigned long) {
    return detemineSVGorRDForHTML(kiv::FileByteSource(path));
}
