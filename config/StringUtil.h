// Text helpers of the configuration readers. Internal: the exported trim/removeSpace are
// separate entry points, and internal code always calls these.
#pragma once

#include <string>
#include <vector>

class StringUtil {
public:
    // Strips space, double quote, TAB, CR and LF from both ends; "" when nothing else is left.
    static std::string trim(std::string text);
    // True for a non-empty text of ASCII digits only (no sign, no blanks).
    static bool IsNumber(const std::string& text);
    // Cuts text at each separator. Empty pieces stay except after a trailing separator; an
    // empty text answers 0 and leaves out as it was. With max != 0 the max-th piece takes
    // the whole rest of the text. Answers the number of pieces in out.
    static unsigned long ParseStrToVecWith(const std::string& text, const char* separator,
                                           std::vector<std::string>& out, unsigned long max);
};
