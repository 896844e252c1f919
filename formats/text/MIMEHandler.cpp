#include "formats/text/MIMEHandler.h"

#include <algorithm>
#include <limits>
#include <string_view>

#include "core/ByteSource.h"
#include "core/ByteUtils.h"
#include "core/Limits.h"
#include "formats/text/LineReader.h"

namespace {

// Field names of mail, news and HTTP headers, sorted in byte order for binary search.
constexpr std::string_view kCommonHeaderFieldName[] = {
    "a-im", "accept", "accept-additions", "accept-charset", "accept-datetime", "accept-encoding",
    "accept-features", "accept-language", "accept-patch", "accept-post", "accept-ranges", "age", "allow",
    "alpn", "also-control", "alt-svc", "alt-used", "alternate-recipient", "alternates",
    "apply-to-redirect-ref", "approved", "arc-authentication-results", "arc-message-signature", "arc-seal",
    "archive", "archived-at", "article-names", "article-updates", "attachments", "authentication-control",
    "authentication-info", "authentication-results", "authorization", "auto-submitted", "autoforwarded",
    "autosubmitted", "base", "bcc", "body", "c-ext", "c-man", "c-opt", "c-pep", "c-pep-info", "cache-control",
    "caldav-timezones", "cancel-key", "cancel-lock", "cc", "cdn-loop", "close", "comments", "connection",
    "content-alternative", "content-base", "content-disposition", "content-duration", "content-encoding",
    "content-features", "content-id", "content-identifier", "content-language", "content-length",
    "content-location", "content-md5", "content-range", "content-return", "content-script-type",
    "content-style-type", "content-transfer-encoding", "content-translation-type", "content-type",
    "content-version", "control", "conversion", "conversion-with-loss", "cookie", "cookie2", "dasl", "date",
    "date-received", "dav", "default-style", "deferred-delivery", "delivered-to", "delivery-date",
    "delta-base", "depth", "derived-from", "destination", "differential-id", "digest",
    "discarded-x400-ipms-extensions", "discarded-x400-mts-extensions", "disclose-recipients",
    "disposition-notification-options", "disposition-notification-to", "distribution", "dkim-signature",
    "dl-expansion-history", "downgraded-bcc", "downgraded-cc", "downgraded-disposition-notification-to",
    "downgraded-final-recipient", "downgraded-from", "downgraded-in-reply-to", "downgraded-mail-from",
    "downgraded-message-id", "downgraded-original-recipient", "downgraded-rcpt-to", "downgraded-references",
    "downgraded-reply-to", "downgraded-resent-bcc", "downgraded-resent-cc", "downgraded-resent-from",
    "downgraded-resent-reply-to", "downgraded-resent-sender", "downgraded-resent-to", "downgraded-return-path",
    "downgraded-sender", "downgraded-to", "early-data", "encoding", "encrypted", "envelope-to", "etag",
    "expect", "expect-ct", "expires", "expiry-date", "ext", "followup-to", "forwarded", "from",
    "generate-delivery-report", "getprofile", "hobareg", "host", "http2-settings", "if", "if-match",
    "if-modified-since", "if-none-match", "if-range", "if-schedule-tag-match", "if-unmodified-since", "im",
    "importance", "in-reply-to", "include-referred-token-binding-id", "incomplete-copy", "injection-date",
    "injection-info", "keep-alive", "keywords", "label", "language", "last-modified", "latest-delivery-time",
    "lines", "link", "list-archive", "list-help", "list-id", "list-owner", "list-post", "list-subscribe",
    "list-unsubscribe", "list-unsubscribe-post", "location", "lock-token", "man", "max-forwards",
    "memento-datetime", "message-context", "message-id", "message-type", "meter", "mime-version",
    "mmhs-acp127-message-identifier", "mmhs-codress-message-indicator", "mmhs-copy-precedence",
    "mmhs-exempted-address", "mmhs-extended-authorisation-info", "mmhs-handling-instructions",
    "mmhs-message-instructions", "mmhs-message-type", "mmhs-originator-plad", "mmhs-originator-reference",
    "mmhs-other-recipients-indicator-cc", "mmhs-other-recipients-indicator-to", "mmhs-primary-precedence",
    "mmhs-subject-indicator-codes", "mt-priority", "negotiate", "newsgroups", "nntp-posting-date",
    "nntp-posting-host", "obsoletes", "opt", "optional-www-authenticate", "ordering-type", "organization",
    "origin", "original-encoded-information-types", "original-from", "original-message-id",
    "original-recipient", "original-sender", "original-subject", "originator-return-address", "overwrite",
    "p3p", "path", "pep", "pep-info", "pics-label", "position", "posting-version", "pragma", "prefer",
    "preference-applied", "prevent-nondelivery-report", "priority", "profileobject", "protocol",
    "protocol-info", "protocol-query", "protocol-request", "proxy-authenticate", "proxy-authentication-info",
    "proxy-authorization", "proxy-features", "proxy-instruction", "public", "public-key-pins",
    "public-key-pins-report-only", "range", "received", "received-spf", "redirect-ref", "references",
    "referer", "relay-version", "replay-nonce", "reply-by", "reply-to", "require-recipient-valid-since",
    "resent-bcc", "resent-cc", "resent-date", "resent-from", "resent-message-id", "resent-reply-to",
    "resent-sender", "resent-to", "retry-after", "return-path", "safe", "schedule-reply", "schedule-tag",
    "sec-token-binding", "sec-websocket-accept", "sec-websocket-extensions", "sec-websocket-key",
    "sec-websocket-protocol", "sec-websocket-version", "security-scheme", "see-also", "sender", "sensitivity",
    "sent", "server", "set-cookie", "set-cookie2", "setprofile", "slug", "soapaction", "solicitation",
    "status-uri", "strict-transport-security", "subject", "summary", "supersedes", "surrogate-capability",
    "surrogate-control", "tcn", "te", "timeout", "tls-report-domain", "tls-report-submitter", "to", "topic",
    "trailer", "transfer-encoding", "ttl", "upgrade", "urgency", "uri", "user-agent", "variant-vary", "vary",
    "vbr-info", "via", "want-digest", "warning", "www-authenticate", "x-content-type-options",
    "x-frame-options", "x400-content-identifier", "x400-content-return", "x400-content-type",
    "x400-mts-identifier", "x400-originator", "x400-received", "x400-recipients", "x400-trace", "xref",
};

constexpr bool sortedAndUnique(const std::string_view* rows, size_t n) {
    for (size_t i = 1; i < n; ++i)
        if (!(rows[i - 1] < rows[i])) return false;
    return true;
}
static_assert(std::size(kCommonHeaderFieldName) == 318, "header name table");
static_assert(sortedAndUnique(kCommonHeaderFieldName, std::size(kCommonHeaderFieldName)),
              "binary search needs the header names sorted");

// Fields named after a URL scheme come from a web address at the start of a line.
constexpr std::string_view kExcludeAttrName[] = {"http", "ftp"};

constexpr uint64_t kNoPosition = std::numeric_limits<uint64_t>::max();

bool hasSpace(const std::string& s) {
    for (char c : s)
        if (kiv::isAsciiSpace(static_cast<unsigned char>(c))) return true;
    return false;
}

}  // namespace

MIMEHandler::MIMEHandler() = default;

MIMEHandler::~MIMEHandler() { close(); }

void MIMEHandler::close() {
    lines_.reset();
    owned_.reset();
    src_ = nullptr;
    size_ = 0;
}

bool MIMEHandler::open(const std::string& path) {
    close();
    owned_ = std::make_unique<kiv::FileByteSource>(path);
    if (!owned_->isOpen()) {
        owned_.reset();
        return false;
    }
    src_ = owned_.get();
    size_ = src_->size();
    lines_ = std::make_unique<kiv::text::LineReader>(*src_);
    return size_ != 0;
}

bool MIMEHandler::open(const kiv::ByteSource& src) {
    close();
    src_ = &src;
    size_ = src.size();
    lines_ = std::make_unique<kiv::text::LineReader>(src);
    return size_ != 0;
}

bool MIMEHandler::parseMIMEHeader(const std::string& path) {
    if (!open(path)) return false;
    return parseMIMEHeader(*src_);
}

bool MIMEHandler::parseMIMEHeader(const kiv::ByteSource& src) {
    if (&src != src_ && !open(src)) return false;
    if (size_ == 0) return false;
    fields_.clear();

    // The first line, up to NUL, CR or LF within the probe, must be text holding a colon.
    kiv::ByteView head = src_->head(probeSize);
    size_t n = 0;
    while (n < head.size && head.data[n] != 0 && head.data[n] != '\n' && head.data[n] != '\r') ++n;
    const std::string firstLine(reinterpret_cast<const char*>(head.data), n);
    if (firstLine == "!NOT EML FILE!" || !isTextLine(firstLine)) return false;
    if (firstLine.find(':') == std::string::npos) return false;

    unsigned long end = 0;
    fields_ = headerParser(0, end);
    headerEnd_ = end;
    // A header with nothing after it is not a message.
    return !fields_.empty() && headerEnd_ < size_;
}

MIMEHandler::LineParser MIMEHandler::lineParserFunc(unsigned long& pos) {
    LineParser out;
    if (!lines_ || lines_->atEnd() || pos >= size_) return out;

    std::string line;
    switch (lines_->readLine(line, kiv::limits::kMailMaxLine)) {
        case kiv::text::LineReader::Status::Line: pos = lines_->position(); break;
        case kiv::text::LineReader::Status::LastLine:
        case kiv::text::LineReader::Status::End: pos = kNoPosition; break;
        case kiv::text::LineReader::Status::TooLong:
        case kiv::text::LineReader::Status::Error:
            lineFailed_ = true;
            pos = kNoPosition;
            return out;
    }
    CR_EliminationFunc(line);

    size_t colon = line.find(':');
    if (colon == std::string::npos) {
        out.value = std::move(line);
        return out;
    }
    std::string name = line.substr(0, colon);
    // Continuation lines and lines such as "From someone: ..." have no field name.
    if (hasSpace(name)) {
        out.value = std::move(line);
        return out;
    }
    out.name = std::move(name);
    out.value = whiteSpaceEliminator(line.substr(colon + 1), true);
    return out;
}

std::vector<MIMEHandler::Attribute> MIMEHandler::headerParser(unsigned long start, unsigned long& end) {
    std::vector<Attribute> result;
    end = start;
    if (!lines_) return result;
    lines_->seek(start);
    lineFailed_ = false;

    Attribute current;
    for (int lineNo = 1; lineNo < maxReadingLine; ++lineNo) {
        LineParser line = lineParserFunc(end);
        if (lineFailed_) return {};
        const bool blank = line.name.empty() && line.value.empty();
        if (line.name.empty()) {
            if (!current.name.empty()) current.value += line.value;
        } else {
            if (line.name.find("X-") == std::string::npos && line.name.find("x-") == std::string::npos &&
                line.name.size() > maxFieldNameLength)
                return {};
            if (!current.name.empty()) {
                attributeParserFunc(current);
                result.push_back(std::move(current));
                current.clear();
            }
            current.name = std::move(line.name);
            current.value = std::move(line.value);
            if (!isTextLine(current.name)) return {};
            current.name = kiv::asciiLowerCopy(std::move(current.name));
        }
        if (current.value.size() > kiv::limits::kMailMaxHeaderBlock ||
            (end != kNoPosition && end - start > kiv::limits::kMailMaxHeaderBlock))
            return {};
        if (blank) break;  // the empty line that ends the header, or the end of the file
    }
    if (!current.name.empty()) {
        attributeParserFunc(current);
        result.push_back(std::move(current));
    }
    result.erase(std::remove_if(result.begin(), result.end(),
                                [](const Attribute& a) { return a.value.empty() || isInExcludeList(a.name); }),
                 result.end());
    return result;
}

void MIMEHandler::attributeParserFunc(Attribute& field) {
    const std::string value = field.value;
    // Semicolons inside quotes or comments separate nothing; mark those bytes once.
    std::vector<int> depth(value.size() + 1, 0);
    for (const Range& r : getRestrictRange(value)) {
        ++depth[static_cast<size_t>(r.first)];
        --depth[static_cast<size_t>(r.second) + 1];
    }
    for (size_t i = 1; i < depth.size(); ++i) depth[i] += depth[i - 1];

    bool cut = false;
    size_t pieceStart = 0;
    auto addParameter = [&](size_t from, size_t to) {
        Parameter p;
        if (parseParameter(value.substr(from, to - from), p)) field.parameters.push_back(std::move(p));
    };
    // A semicolon at position 0 never separates.
    for (size_t pos = value.find(';', 1); pos != std::string::npos; pos = value.find(';', pos + 1)) {
        if (depth[pos] > 0) continue;
        if (!cut) {
            cut = true;
            field.value = value.substr(0, pos);
        } else {
            addParameter(pieceStart, pos);
        }
        pieceStart = pos + 1;
    }
    if (cut) addParameter(pieceStart, value.size());
}

std::vector<MIMEHandler::Range> MIMEHandler::getRestrictRange(std::string value) {
    std::vector<Range> ranges;
    std::vector<uint64_t> parens;
    std::vector<uint64_t> quotes;
    for (uint64_t i = 0; i < value.size(); ++i) {
        const char c = value[static_cast<size_t>(i)];
        if (c == '(') {
            parens.push_back(i);
        } else if (c == ')' && !parens.empty()) {
            ranges.emplace_back(parens.back(), i);
            parens.pop_back();
        } else if (c == '"') {
            if (quotes.empty()) {
                quotes.push_back(i);
            } else {
                ranges.emplace_back(quotes.back(), i);
                quotes.pop_back();
            }
        }
    }
    return ranges;
}

bool MIMEHandler::parseParameter(std::string text, Parameter& out) {
    size_t eq = text.find('=');
    if (eq == std::string::npos) return false;
    out.name = kiv::asciiLowerCopy(whiteSpaceEliminator(text.substr(0, eq), true));
    out.value = whiteSpaceEliminator(text.substr(eq + 1), true);
    return true;
}

std::string MIMEHandler::whiteSpaceEliminator(const std::string& text, bool leading) {
    if (!leading) return text;
    size_t i = 0;
    while (i < text.size() && kiv::isAsciiSpace(static_cast<unsigned char>(text[i]))) ++i;
    return i == text.size() ? text : text.substr(i);
}

void MIMEHandler::CR_EliminationFunc(std::string& line) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
}

bool MIMEHandler::isTextLine(const std::string& text) {
    if (text.empty()) return true;
    size_t printable = 0;
    for (char c : text) printable += kiv::isAsciiPrint(static_cast<unsigned char>(c)) ? 1 : 0;
    // Single precision on purpose: a byte order mark and seven printable bytes give exactly 0.7.
    return static_cast<float>(printable) / static_cast<float>(text.size()) > thresholdText;
}

bool MIMEHandler::isInExcludeList(const std::string& name) {
    return std::find(std::begin(kExcludeAttrName), std::end(kExcludeAttrName), name) != std::end(kExcludeAttrName);
}

bool MIMEHandler::isCommonHeaderField(Attribute field) {
    if (field.name.compare(0, 2, "x-") == 0) return true;
    return std::binary_search(std::begin(kCommonHeaderFieldName), std::end(kCommonHeaderFieldName),
                              std::string_view(field.name));
}

bool MIMEHandler::isExistAttribute(Attribute query) {
    const std::string name = kiv::asciiLowerCopy(query.name);
    const std::string value = kiv::asciiLowerCopy(query.value);
    for (const Attribute& f : fields_) {
        if (f.name != name) continue;
        if (value.empty() || kiv::asciiLowerCopy(f.value).find(value) != std::string::npos) return true;
    }
    return false;
}

void MIMEHandler::fileNameParserFunc(std::string& text) {
    size_t first = text.find('"');
    size_t last = text.rfind('"');
    if (first != std::string::npos && last > first) text = text.substr(first + 1, last - first - 1);
}

bool MIMEHandler::getSectionSeparator(const Attribute& field, std::string& boundary) {
    for (const Parameter& p : field.parameters) {
        if (p.name != "boundary") continue;
        std::string b = p.value;
        fileNameParserFunc(b);
        if (b.empty()) return false;
        boundary = std::move(b);
        return true;
    }
    return false;
}

bool MIMEHandler::isEMLFileType() {
    if (fields_.empty()) return false;
    size_t known = 0;
    std::string boundary;
    for (const Attribute& f : fields_) {
        if (isCommonHeaderField(f)) ++known;
        if (f.name == "content-type" && kiv::asciiLowerCopy(f.value).find("multipart") != std::string::npos &&
            !getSectionSeparator(f, boundary))
            return false;
    }
    // Single precision on purpose: 3 of 5 must reach 0.6.
    if (static_cast<float>(known) / static_cast<float>(fields_.size()) < detectThreshold) return false;
    // One known name and a blank line are common in YAML and notes ("language: python",
    // "Date: ..."); a lone field stands for a mail only as a multipart type whose first part
    // is found below.
    if (boundary.empty()) return fields_.size() >= minFieldsWithoutParts;

    // A multipart message opens its first part within a few lines after the header.
    const std::string delimiter = "--" + boundary;
    if (!lines_) return false;
    lines_->seek(headerEnd_);
    bool found = false;
    std::string line;
    for (int i = 0; i < 10 && !lines_->atEnd(); ++i) {
        auto status = lines_->readLine(line, kiv::limits::kMailMaxLine);
        if (status == kiv::text::LineReader::Status::TooLong || status == kiv::text::LineReader::Status::Error)
            return false;
        // A delimiter on the last line opens no part (a line without a line feed has no
        // position after it, and nothing follows it either).
        if (status != kiv::text::LineReader::Status::Line || lines_->position() == size_) return false;
        CR_EliminationFunc(line);
        if (line == delimiter) {
            found = true;
            break;
        }
    }
    if (!found) return false;
    unsigned long partStart = lines_->position();
    unsigned long partEnd = 0;
    std::vector<Attribute> part = headerParser(partStart, partEnd);
    headerEnd_ = partEnd;
    return part.size() >= static_cast<size_t>(lowestHeaderFieldThreshold);
}

bool MIMEHandler::isMHTFileType() {
    if (isExistAttribute({"content-type", "multipart/related", {}})) return true;
    if (!isExistAttribute({"content-type", "text/html", {}})) return false;
    const bool hasFrom = isExistAttribute({"from", "", {}});
    const bool hasTo = isExistAttribute({"to", "", {}});
    // Browsers that save a single page as mail write a From of the form "\"Saved by ...\"".
    if (isExistAttribute({"from", "\"saved by ", {}}) && !hasTo) return true;
    return !hasFrom && !hasTo;
}
