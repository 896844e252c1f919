// One generic-stage use of the matcher: submit a file, analyse it, then ask for the hit
// count and for type, extension and points of every rank, as the engine does.
//   bench_qrixlib [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>

#include "qrixlib/QrixLib.h"

namespace {

struct Matcher {
    decltype(&Qrix_LoadDefsPack) load = nullptr;
    decltype(&Qrix_SubmitFileA) submit = nullptr;
    decltype(&Qrix_Analyze) analyze = nullptr;
    decltype(&Qrix_GetInfo) info = nullptr;

    Matcher() {
        void* h = dlopen(QRIX_LIBRARY_PATH, RTLD_NOW);
        if (h == nullptr) {
            std::fprintf(stderr, "cannot load %s\n", QRIX_LIBRARY_PATH);
            std::exit(1);
        }
        load = reinterpret_cast<decltype(load)>(dlsym(h, "Qrix_LoadDefsPack"));
        submit = reinterpret_cast<decltype(submit)>(dlsym(h, "Qrix_SubmitFileA"));
        analyze = reinterpret_cast<decltype(analyze)>(dlsym(h, "Qrix_Analyze"));
        info = reinterpret_cast<decltype(info)>(dlsym(h, "Qrix_GetInfo"));
        char dir[] = QRIX_DEFS_DIR;
        if (load(dir) < 1) {
            std::fprintf(stderr, "cannot load the definitions from %s\n", QRIX_DEFS_DIR);
            std::exit(1);
        }
    }
};

Matcher& matcher() {
    static Matcher m;
    return m;
}

// Files written once into the temporary directory and removed at exit.
std::string sampleFile(const std::string& name, const std::string& head, size_t size) {
    const char* tmp = std::getenv("TMPDIR");
    const std::string path =
        std::string(tmp != nullptr ? tmp : "/tmp") + "/qrix-bench-" + std::to_string(getpid()) + "-" + name;
    std::string bytes = head;
    while (bytes.size() < size) bytes += "<item name=\"value\">some text of the document</item>\n";
    bytes.resize(size);
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    static std::vector<std::string> created;
    if (created.empty())
        std::atexit([] {
            for (const auto& p : created) ::unlink(p.c_str());
        });
    created.push_back(path);
    return path;
}

void scanOnce(benchmark::State& state, const std::string& path) {
    Matcher& m = matcher();
    char out[4096];
    for (auto _ : state) {
        if (m.submit(const_cast<char*>(path.c_str())) != 1 || m.analyze() != 1) {
            state.SkipWithError("scan failed");
            break;
        }
        const int r = m.info(1, 0, out);
        int best = 0;
        for (int i = r; i >= 1; --i) {
            m.info(2, i, out);
            m.info(3, i, out);
            best = std::max(best, m.info(4, i, out));
        }
        benchmark::DoNotOptimize(best);
    }
}

// An XML document passes the "<?xml" patterns of many vocabularies, so every one of them
// searches its strings: the most work a small file can cause.
void BM_Xml2KiB(benchmark::State& state) {
    static const std::string path = sampleFile("small.xml", "<?xml version=\"1.0\"?>\n<doc>\n", 2048);
    scanOnce(state, path);
}
// A binary file decided by its leading bytes alone.
void BM_Png2KiB(benchmark::State& state) {
    static const std::string path = sampleFile("small.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16), 2048);
    scanOnce(state, path);
}
void BM_Xml10MiB(benchmark::State& state) {
    static const std::string path = sampleFile("large.xml", "<?xml version=\"1.0\"?>\n<doc>\n", 10 * 1024 * 1024);
    scanOnce(state, path);
}
void BM_Png10MiB(benchmark::State& state) {
    static const std::string path =
        sampleFile("large.png", std::string("\x89PNG\r\n\x1A\n\0\0\0\x0DIHDR", 16), 10 * 1024 * 1024);
    scanOnce(state, path);
}

BENCHMARK(BM_Xml2KiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Png2KiB)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Xml10MiB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Png10MiB)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
