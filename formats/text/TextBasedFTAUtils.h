// The text stage of the cascade: markup (HTML, XML dialects, SVG, VML), then calendars, then
// mail, each answering a TextBasedType code; adjustTextBasedTypes turns a code into the result.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "formats/text/TextBasedType.h"

namespace kiv {
class ByteSource;
}

class TextBasedFTAUtils {
public:
    // Lower-case HTML element names (125), the VML marker tag, and the extensions of XML-based
    // and plain-text formats that kivFileType adds to an XML result (59).
    static const std::set<std::string> setHtmlTag;
    static const std::set<std::string> setVMLTag;
    static const std::set<std::string> setXMLBasedExt;

    // The first non-zero answer of the markup, calendar and mail checks; 0 when none.
    static TextBasedType isTextBased(const kiv::ByteSource& src);
    static TextBasedType isTextBased(const std::string& path);

    // Markup check: 0, 1-4, 6-12, 17 or 18.
    static TextBasedType checkHTMLComponent(const kiv::ByteSource& src);
    static TextBasedType checkHTMLComponent(const std::string& path);
    // Root-element decision over the tag-name and full-tag lists of the tag reader.
    static TextBasedType isXMLBased(const std::vector<std::string>& tags, const std::vector<std::string>& fullTags);
    // The root element's name when the last tag closes it; empty otherwise.
    static std::string getRootElement(const std::vector<std::string>& tags);
    // False only for an HTML document-type declaration ("!DOCTYPE html ...").
    static bool shouldChangeToXML(const std::string& fullTag);
    static bool isHTMLTag(const std::string& name);

    // Calendar check: 0, 13 or 14.
    static TextBasedType checkTextCalendarComponent(const kiv::ByteSource& src);
    static TextBasedType checkTextCalendarComponent(const std::string& path);
    // Mail check: 0, 15 or 16.
    static TextBasedType checkTextMIMEComponent(const kiv::ByteSource& src);
    static TextBasedType checkTextMIMEComponent(const std::string& path);

    // Writes the result row of a code; any code without a row of its own gives plain text.
    static void adjustTextBasedTypes(TextBasedType type, std::string& typeId, std::string& mimeType,
                                     std::string& extensions, std::string& description);
};
