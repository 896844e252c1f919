// Sorts the benchmark's files by the road the engine takes for them, so that run_bench.py can
// time each road on its own. Prints one line per file: the class, a TAB and the path.
//   package   a package step decided (OpenDocument, Office Open XML): members are read
//   cascade   another detector of the cascade decided, without reading a member
//   generic   no detector decided: libmagic and the matcher answer
//   bench_classes LISTFILE      (LISTFILE: one path per line)
// Members are never read here (no engine directory is set): the package steps decide on the
// central directory alone, so the class is the one the engine takes.
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "core/ByteSignatures.h"
#include "core/ByteSource.h"
#include "engine/Cascade.h"
#include "formats/archive/ArchiveFTAUtils.h"
#include "formats/media/AutoCADUtil.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: bench_classes LISTFILE\n");
        return 2;
    }
    // The tables init builds before the first scan.
    initISOVecSignatures();
    initFallBackSignatures();
    AutoCADUtil::init();
    ArchiveFTAUtils::init();
    std::ifstream list(argv[1]);
    for (std::string path; std::getline(list, path);) {
        if (path.empty()) continue;
        kiv::FileByteSource src(path);
        kiv::DetectionResult result;
        const char* step = nullptr;
        const char* cls = "generic";
        if (kiv::runCascade(src, result, &step))
            cls = std::strcmp(step, "opendocument") == 0 || std::strcmp(step, "officeopenxml") == 0 ? "package"
                                                                                                    : "cascade";
        std::printf("%s\t%s\n", cls, path.c_str());
    }
    return 0;
}
