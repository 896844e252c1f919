#include "formats/text/TextBasedFTAUtils.h"

#include <string_view>

#include "core/ByteSource.h"
#include "core/ByteUtils.h"
#include "core/ResultRow.h"
#include "core/TypeTables.h"
#include "formats/text/CalendarReader.h"
#include "formats/text/HTMLReader.h"
#include "formats/text/MIMEHandler.h"

namespace {

// HTML element names, lower case.
constexpr std::string_view kHtmlTagNames[] = {
    "!doctype", "a",        "abbr",     "acronym",  "address",    "applet",   "area",     "article", "aside",
    "audio",    "b",        "base",     "basefont", "bdi",        "bdo",      "big",      "blockquote",
    "body",     "br",       "button",   "canvas",   "caption",    "center",   "cite",     "code",    "col",
    "colgroup", "datalist", "dd",       "del",      "details",    "dfn",      "dialog",   "dir",     "div",
    "dl",       "dt",       "em",       "embed",    "fieldset",   "figcaption", "figure", "font",    "footer",
    "form",     "frame",    "frameset", "h1",       "h2",         "h3",       "h4",       "h5",      "h6",
    "head",     "header",   "hr",       "html",     "i",          "iframe",   "img",      "input",   "ins",
    "kbd",      "label",    "legend",   "li",       "link",       "main",     "map",      "mark",    "menu",
    "menuitem", "meta",     "meter",    "nav",      "noframes",   "noscript", "object",   "ol",      "optgroup",
    "o:p",      "option",   "output",   "p",        "param",      "picture",  "pre",      "progress", "q",
    "rp",       "rt",       "ruby",     "s",        "samp",       "script",   "section",  "select",  "small",
    "source",   "span",     "strike",   "strong",   "style",      "sub",      "summary",  "sup",     "table",
    "tbody",    "td",       "textarea", "tfoot",    "th",         "thead",    "time",     "title",   "tr",
    "track",    "tt",       "u",        "ul",       "var",        "video",    "wbr",      "b:if",    "b:else",
};
// The VML marker tag.
constexpr std::string_view kVmlTagNames[] = {"v:shapetype"};

// A name of up to 15 bytes, lower-cased, as two words, with its length in the last byte.
struct NameKey {
    uint64_t lo = 0, hi = 0;
    constexpr bool operator==(const NameKey& o) const { return lo == o.lo && hi == o.hi; }
};
constexpr size_t kNameKeyBytes = 15;

constexpr NameKey lowerKey(std::string_view name) {
    NameKey key;
    key.hi = uint64_t{name.size()} << 56;
    for (size_t i = 0; i < name.size(); ++i) {
        const uint64_t c = static_cast<unsigned char>(kiv::asciiToLower(static_cast<unsigned char>(name[i])));
        if (i < 8)
            key.lo |= c << (8 * i);
        else
            key.hi |= c << (8 * (i - 8));
    }
    return key;
}

// An open-addressed index over a table of lower-case names: each row sits at the first free
// slot from its key's hash, so that a lookup costs one hash and mostly one compare, whatever
// the name (the walk looks up every tag of a file).
template <size_t N>
class NameIndex {
public:
    static_assert(N < 128, "the index keeps at least half of its slots free");
    constexpr explicit NameIndex(const std::string_view (&rows)[N]) : keys_{}, slots_{}, oneLetter_{} {
        for (size_t r = 0; r < N; ++r) {
            if (rows[r].size() == 1) {
                const unsigned char c = static_cast<unsigned char>(rows[r][0]);
                oneLetter_[c] = oneLetter_[static_cast<unsigned char>(kiv::asciiToUpper(c))] = true;
            }
            keys_[r] = lowerKey(rows[r]);
            size_t s = slotOf(keys_[r]);
            while (slots_[s] != 0) s = (s + 1) % kSlots;
            slots_[s] = static_cast<uint8_t>(r + 1);
        }
    }
    // Whether the name, lower-cased, is a row; no copy of the name is made.
    bool contains(std::string_view name) const {
        // One-letter names (a, p, b, i) are the commonest tags; they have a table of their own.
        if (name.size() == 1) return oneLetter_[static_cast<unsigned char>(name[0])];
        if (name.empty() || name.size() > kNameKeyBytes) return false;
        const NameKey key = lowerKey(name);
        for (size_t s = slotOf(key); slots_[s] != 0; s = (s + 1) % kSlots)
            if (keys_[slots_[s] - 1] == key) return true;
        return false;
    }

private:
    static constexpr size_t kSlots = 256;
    static constexpr size_t slotOf(const NameKey& key) {
        constexpr uint64_t kMix = 0x9E3779B97F4A7C15ull;  // odd, with well-spread bits
        return static_cast<size_t>(((key.lo ^ (key.hi * kMix)) * kMix) >> 56);
    }

    NameKey keys_[N];
    uint8_t slots_[kSlots];  // row + 1; 0: free
    bool oneLetter_[256];    // the one-byte rows, in either case
};

constexpr bool distinctRows(const std::string_view* rows, size_t n) {
    for (size_t i = 0; i < n; ++i)
        for (size_t j = i + 1; j < n; ++j)
            if (rows[i] == rows[j]) return false;
    return true;
}
static_assert(std::size(kHtmlTagNames) == 125, "HTML tag table");
static_assert(distinctRows(kHtmlTagNames, std::size(kHtmlTagNames)), "HTML tag table holds a name twice");

constexpr NameIndex<std::size(kHtmlTagNames)> kHtmlIndex(kHtmlTagNames);

std::set<std::string> toSet(const std::string_view* rows, size_t n) {
    std::set<std::string> set;
    for (size_t i = 0; i < n; ++i) set.emplace(rows[i]);
    return set;
}

bool isHtmlName(std::string_view name) { return kHtmlIndex.contains(name); }

bool isVmlName(std::string_view name) {
    for (std::string_view row : kVmlTagNames)
        if (kiv::equalsIgnoringAsciiCase(name, row)) return true;
    return false;
}

}  // namespace

const std::set<std::string> TextBasedFTAUtils::setHtmlTag = toSet(kHtmlTagNames, std::size(kHtmlTagNames));

const std::set<std::string> TextBasedFTAUtils::setVMLTag = toSet(kVmlTagNames, std::size(kVmlTagNames));

const std::set<std::string> TextBasedFTAUtils::setXMLBasedExt = {
    "3dml", "abw",  "aiml", "apml",   "atom",   "ficml",     "gml",     "gpx",  "htm",   "html", "jnlp", "kml",
    "lxfml", "musicxml", "mxl", "ova", "ovf",   "rdf",       "rels",    "resx", "rss",   "scrivx", "sgml",
    "smil", "svg",  "vml",  "x3dv",   "xaml",   "xht",       "xhtml",   "xml",  "xsd",   "xspf", "xul",  "zir",
    "1st",  "apt",  "asc",  "cfg",    "cnf",    "conf",      "config",  "css",  "err",   "faq",  "fodt", "ini",
    "log",  "me",   "note", "now",    "plain",  "readme",    "text",    "tmp",  "txt",   "unx",  "classpath",
    "project",
};

namespace {

bool containsAny(std::string_view name, std::initializer_list<std::string_view> parts) {
    for (std::string_view p : parts)
        if (kiv::containsIgnoringAsciiCase(name, p)) return true;
    return false;
}

// Prolog tags before the root element of an XML text.
bool isPrologTag(std::string_view name) {
    return containsAny(name, {"?xml", "!document", "?encoding", "!entity", "!doctype"});
}

// Everything the markup decision needs from the tag list, gathered one tag at a time so that
// a large markup file costs no list of its tags. Names are compared in place, ignoring case;
// only the root and the second full tag are copied.
class MarkupSummary {
public:
    void add(std::string_view name, std::string_view fullTag) {
        if (leading()) addLeading(name, fullTag);
        counts_.add(name, haveRoot_ ? std::string_view(root_) : std::string_view(), haveRoot_);
    }
    // A batch of tags: once the root is decided only the counts change, and they are kept in
    // locals while the batch is counted.
    template <typename Tag>
    void addAll(const Tag* tags, size_t n) {
        size_t i = 0;
        for (; i < n && leading(); ++i) add(tags[i].name, tags[i].fullTag);
        Counts counts = counts_;
        const std::string_view root = haveRoot_ ? std::string_view(root_) : std::string_view();
        for (; i < n; ++i) counts.add(tags[i].name, root, haveRoot_);
        counts_ = counts;
    }

    size_t count() const { return counts_.count; }
    size_t total() const { return counts_.total; }
    size_t htmlCount() const { return counts_.html; }
    bool hasVml() const { return counts_.vml; }

    TextBasedType xmlCode() const {
        if (decided_ && code_ != TEXT_NONE) return code_;
        // An XML declaration makes the text XML unless an HTML doctype follows it (XHTML).
        if (firstIsXmlDeclaration_ && counts_.count > 2 && TextBasedFTAUtils::shouldChangeToXML(secondFullTag_))
            return TEXT_XML;
        return TEXT_NONE;
    }

    std::string rootElement() const { return counts_.lastIsRoot ? root_ : std::string(); }

private:
    // What every tag changes: the counts of the share test, the VML mark, and whether the last
    // tag has the root's name (case as written).
    struct Counts {
        size_t count = 0;
        size_t total = 0;
        size_t html = 0;
        bool vml = false;
        bool lastIsRoot = false;

        void add(std::string_view name, std::string_view root, bool haveRoot) {
            ++count;
            bool same = haveRoot && name.size() == root.size();
            for (size_t i = 0; same && i < name.size(); ++i) same = name[i] == root[i];
            lastIsRoot = same;

            const bool isHtml = isHtmlName(name);
            // One-letter names outside HTML (x, y, ... in formulas and data) count neither way.
            if (name.size() == 1 && !isHtml) return;
            ++total;
            if (isHtml)
                ++html;
            else if (isVmlName(name))
                vml = true;
        }
    };

    // The first tags, up to the root and its decision (and the second tag, whose full text is
    // kept). Kept out of line: after them a tag costs only its count.
    bool leading() const { return counts_.count < 2 || !decided_ || !haveRoot_; }
    [[gnu::noinline]] void addLeading(std::string_view name, std::string_view fullTag) {
        if (counts_.count == 0 && kiv::containsIgnoringAsciiCase(name, "?xml")) firstIsXmlDeclaration_ = true;
        if (counts_.count == 1) secondFullTag_.assign(fullTag.data(), fullTag.size());
        if (!decided_) decideRoot(name);
        if (!haveRoot_ && !containsAny(name, {"?xml", "!document", "?encoding"})) {
            root_.assign(name.data(), name.size());
            haveRoot_ = true;
        }
    }
    void decideRoot(std::string_view name) {
        using kiv::equalsIgnoringAsciiCase;
        if (visioPending_) {
            visioPending_ = false;
            if (equalsIgnoringAsciiCase(name, "documentproperties")) {
                decide(TEXT_VDX);
                return;
            }
            // Otherwise the visiodocument tag was passed over and this one is judged.
        }
        if (isPrologTag(name)) return;
        if (isHtmlName(name))
            decide(TEXT_NONE);
        else if (equalsIgnoringAsciiCase(name, "svg") || equalsIgnoringAsciiCase(name, "svg:svg"))
            decide(TEXT_SVG);
        else if (equalsIgnoringAsciiCase(name, "aiml"))
            decide(TEXT_AIML);
        else if (equalsIgnoringAsciiCase(name, "feed"))
            decide(TEXT_ATOM);
        else if (equalsIgnoringAsciiCase(name, "gpx"))
            decide(TEXT_GPX);
        else if (equalsIgnoringAsciiCase(name, "rdf") || equalsIgnoringAsciiCase(name, "rdf:rdf"))
            decide(TEXT_RDF);
        else if (equalsIgnoringAsciiCase(name, "relationships"))
            decide(TEXT_RELS);
        else if (equalsIgnoringAsciiCase(name, "rss"))
            decide(TEXT_RSS);
        else if (equalsIgnoringAsciiCase(name, "car"))
            decide(TEXT_ZIR);
        else if (name == "COLLADA")  // the schema spells it so; "collada" is another vocabulary
            decide(TEXT_DAE);
        else if (equalsIgnoringAsciiCase(name, "visiodocument"))
            visioPending_ = true;
        else
            decide(TEXT_NONE);
    }
    void decide(TextBasedType code) {
        decided_ = true;
        code_ = code;
    }

    Counts counts_;
    bool firstIsXmlDeclaration_ = false;
    std::string secondFullTag_;
    bool decided_ = false;
    bool visioPending_ = false;
    TextBasedType code_ = TEXT_NONE;
    bool haveRoot_ = false;
    std::string root_;
};

class SummarisingReader : public HTMLReader {
public:
    explicit SummarisingReader(MarkupSummary& summary) : summary_(summary) {}

protected:
    void collectTags(const Collected* tags, size_t n) override { summary_.addAll(tags, n); }

private:
    MarkupSummary& summary_;
};

MarkupSummary summarise(const std::vector<std::string>& tags, const std::vector<std::string>& fullTags) {
    MarkupSummary s;
    for (size_t i = 0; i < tags.size(); ++i)
        s.add(tags[i], i < fullTags.size() ? std::string_view(fullTags[i]) : std::string_view());
    return s;
}

TextBasedType decideMarkup(const MarkupSummary& s) {
    if (s.count() < 3) return TEXT_NONE;
    TextBasedType code = s.xmlCode();
    if (code != TEXT_NONE) return code;
    if (s.total() == 0) return TEXT_NONE;
    // Single precision on purpose: 3 of 5 gives 60.0000038, above the bar.
    float share = static_cast<float>(s.htmlCount()) / static_cast<float>(s.total()) * 100.0f;
    if (share > 60.0f) return TEXT_HTML;
    return s.hasVml() && s.rootElement() == "xml" ? TEXT_VML : TEXT_XML;
}

constexpr kiv::ResultRow<TextBasedType> kResultRows[] = {
    {TEXT_AIML, "AIML", "application/aiml+xml", "aiml,xml"},
    {TEXT_ATOM, "ATOM", "application/atom+xml", "atom,xml"},
    {TEXT_GPX, "GPX", "application/gpx+xml", "gpx,xml"},
    {TEXT_HTML, "HTML", "text/html", "htm,html"},
    {TEXT_RDF, "RDF", "application/rdf+xml", "rdf,xml"},
    {TEXT_RELS, "RELS", "application/rels+xml", "rels,xml"},
    {TEXT_RSS, "RSS", "application/rss+xml", "rss,xml"},
    {TEXT_SVG, "SVG", "text/svg", "svg"},
    {TEXT_VML, "VML", "application/vnd.openxmlformats-officedocument.vmlDrawing", "vml"},
    {TEXT_XML, "XML", "text/xml", "xml"},
    {TEXT_ZIR, "ZIR", "application/zir+xml", "zir,xml"},
    {TEXT_ICS, "ICS", "text/calendar", "ical,ifb,icalendar,vcs,ics"},
    {TEXT_VCS, "VCS", "text/calendar", "ical,ifb,icalendar,vcs,ics"},
    {TEXT_EML, "EML", "message/rfc822", "eml"},
    {TEXT_MHT, "MHT", "application/x-mimearchive", "mht,mhtml"},
    {TEXT_DAE, "DAE", "model/vnd.collada+xml", "dae"},
    {TEXT_VDX, "VDX", "application/visio", "vdx"},
};
constexpr kiv::ResultRow<TextBasedType> kPlainTextRow = {TEXT_NONE, "TXT", "text/plain", "txt"};

}  // namespace

TextBasedType TextBasedFTAUtils::isTextBased(const kiv::ByteSource& src) {
    TextBasedType code = checkHTMLComponent(src);
    if (code == TEXT_NONE) code = checkTextCalendarComponent(src);
    if (code == TEXT_NONE) code = checkTextMIMEComponent(src);
    return code;
}

TextBasedType TextBasedFTAUtils::isTextBased(const std::string& path) {
    kiv::FileByteSource src(path);
    return isTextBased(src);
}

TextBasedType TextBasedFTAUtils::checkHTMLComponent(const kiv::ByteSource& src) {
    MarkupSummary summary;
    SummarisingReader reader(summary);
    if (!reader.readFile(src)) return TEXT_NONE;
    return decideMarkup(summary);
}

TextBasedType TextBasedFTAUtils::checkHTMLComponent(const std::string& path) {
    kiv::FileByteSource src(path);
    return checkHTMLComponent(src);
}

TextBasedType TextBasedFTAUtils::isXMLBased(const std::vector<std::string>& tags,
                                            const std::vector<std::string>& fullTags) {
    return summarise(tags, fullTags).xmlCode();
}

std::string TextBasedFTAUtils::getRootElement(const std::vector<std::string>& tags) {
    return summarise(tags, {}).rootElement();
}

namespace {

// Sets isDoctype when word 0 is "!doctype" and isHtml when word 1 is "html"; a start outside
// the text names no word.
void checkDocTypeHtml(const std::string& text, size_t start, size_t length, int wordIndex, bool& isDoctype,
                      bool& isHtml) {
    if (start >= text.size()) return;
    const std::string word = text.substr(start, length);
    if (wordIndex == 0 && word == "!doctype") isDoctype = true;
    if (wordIndex == 1 && word == "html") isHtml = true;
}

}  // namespace

bool TextBasedFTAUtils::shouldChangeToXML(const std::string& fullTag) {
    const std::string text = kiv::asciiLowerCopy(fullTag);
    bool isDoctype = false, isHtml = false;
    int word = 0;
    size_t i = 0;
    while (word < 2 && i < text.size()) {
        while (i < text.size() && kiv::isAsciiSpace(static_cast<unsigned char>(text[i]))) ++i;
        size_t start = i;
        while (i < text.size() && !kiv::isAsciiSpace(static_cast<unsigned char>(text[i]))) ++i;
        if (i > start) checkDocTypeHtml(text, start, i - start, word++, isDoctype, isHtml);
    }
    return !(isDoctype && isHtml);
}

bool TextBasedFTAUtils::isHTMLTag(const std::string& name) { return isHtmlName(name); }

TextBasedType TextBasedFTAUtils::checkTextCalendarComponent(const kiv::ByteSource& src) {
    CalendarReader reader;
    reader.open(src);
    return reader.parseCalObj() ? reader.checkDocumentType() : TEXT_NONE;
}

TextBasedType TextBasedFTAUtils::checkTextCalendarComponent(const std::string& path) {
    kiv::FileByteSource src(path);
    return checkTextCalendarComponent(src);
}

TextBasedType TextBasedFTAUtils::checkTextMIMEComponent(const kiv::ByteSource& src) {
    MIMEHandler handler;
    if (!handler.parseMIMEHeader(src) || !handler.isEMLFileType()) return TEXT_NONE;
    // A saved web page is always a valid mail message first.
    return handler.isMHTFileType() ? TEXT_MHT : TEXT_EML;
}

TextBasedType TextBasedFTAUtils::checkTextMIMEComponent(const std::string& path) {
    kiv::FileByteSource src(path);
    return checkTextMIMEComponent(src);
}

void TextBasedFTAUtils::adjustTextBasedTypes(TextBasedType type, std::string& typeId, std::string& mimeType,
                                             std::string& extensions, std::string& description) {
    kiv::writeRow(kiv::rowFor(kResultRows, type, kPlainTextRow), typeId, mimeType, extensions, description);
}
