// qrixc: compiles definitions sources into the package libQrixLib loads.
//   qrixc -o QrixDefs.QXD SOURCE...
// Exits 1 (and writes nothing) when any source has an error; warnings are printed only.
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>

#include "tools/qrixc/DefsCompiler.h"

int main(int argc, char** argv) {
    std::string output;
    std::vector<std::string> sources;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "-o" && i + 1 < argc)
            output = argv[++i];
        else
            sources.push_back(arg);
    }
    if (output.empty() || sources.empty()) {
        std::cerr << "usage: qrixc -o OUTPUT SOURCE...\n";
        return 2;
    }

    std::vector<qrixc::SourceDefinition> defs;
    qrixc::Diagnostics diag;
    for (const auto& path : sources) {
        std::ifstream in(path, std::ios::binary);
        if (!in) {
            diag.errors.push_back(path + ": cannot be read");
            continue;
        }
        std::ostringstream text;
        text << in.rdbuf();
        qrixc::parseSource(text.str(), path, defs, diag);
    }
    if (diag.errors.empty()) qrixc::checkDefinitions(defs, diag);
    for (const auto& w : diag.warnings) std::cerr << "qrixc: warning: " << w << '\n';
    for (const auto& e : diag.errors) std::cerr << "qrixc: error: " << e << '\n';
    if (!diag.errors.empty()) return 1;

    // Written beside the target and renamed over it, so a reader never sees half a package.
    const std::string pack = qrixc::buildPackage(defs);
    const std::string temp = output + ".tmp";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        out.write(pack.data(), static_cast<std::streamsize>(pack.size()));
        if (!out.flush()) {
            std::cerr << "qrixc: error: cannot write " << temp << '\n';
            std::remove(temp.c_str());
            return 1;
        }
    }
    if (std::rename(temp.c_str(), output.c_str()) != 0) {
        std::cerr << "qrixc: error: cannot replace " << output << '\n';
        std::remove(temp.c_str());
        return 1;
    }
    return 0;
}
