// Pieces of the generic stage (libmagic and the signature matcher) that do not need a slot.
#pragma once

#include <string>

#include "core/Limits.h"

namespace kiv {

// Walks the matcher's hits from the last rank (lowest points) to the first. The first walked
// is always taken; a later one replaces it only with strictly more points, so among equal top
// scores the highest rank wins; while both kept texts are empty any hit replaces them.
// getInfo(mode, index, buffer) is the matcher's query; buffer has kQrixAnswerBytes bytes.
template <class GetInfo>
void pickBestHit(GetInfo&& getInfo, std::string& extText, std::string& typeText) {
    char buffer[limits::kQrixAnswerBytes] = {};
    auto text = [&](int mode, int index) {
        buffer[0] = '\0';
        getInfo(mode, index, buffer);
        buffer[sizeof buffer - 1] = '\0';
        return std::string(buffer);
    };
    int count = getInfo(1, 0, buffer);
    int best = 0;
    for (int i = count; i >= 1; --i) {
        std::string candidateType = text(2, i);
        std::string candidateExt = text(3, i);
        buffer[0] = '\0';
        int points = getInfo(4, i, buffer);
        if (points > best || (typeText.empty() && extText.empty())) {
            best = points;
            typeText = candidateType;
            extText = candidateExt;
        }
    }
}

// Folds matcher answers the mapping rules must not see: Office Open XML extensions become a
// ZIP archive (no detector claimed the package, so it is a plain ZIP to the rules), and the
// Atari load-file answer becomes data with libmagic's description "data".
void foldMatcherAnswer(std::string& extText, std::string& typeText, std::string& magicDescription);

// Turns every CR and LF into a blank. libmagic runs raw, so a description can copy line
// breaks out of the file (a PDF version, a volume label, the list of a universal binary's
// architectures), and no rule pattern matches across one.
void blankLineBreaks(std::string& text);

}  // namespace kiv
