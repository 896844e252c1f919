#include "formats/text/TextProbes.h"

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

}  // namespace

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
