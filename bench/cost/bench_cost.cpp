// bench_cost: what one scan of a file costs. Loads ./kiv_engine.so from the working directory
// (an engine run directory, such as build/run), starts it once, then scans each file given
// --repeat times and prints one line per file:
//
//   bench_cost [--repeat N] FILE...
//   PATH <TAB> median seconds <TAB> peak bytes added <TAB> result JSON
//
// The peak is the highest resident memory during the file's scans less the resident memory
// before them; the kernel's high-water mark is reset before each file (/proc/self/clear_refs),
// so start-up and earlier files do not count. bench/cost/run_cost.py drives it.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "tools/kivscan/HostEngine.h"

namespace {

// A field of /proc/self/status in bytes ("VmRSS", "VmHWM"); 0 when it cannot be read.
uint64_t statusBytes(const char* field) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const size_t n = std::strlen(field);
    while (std::getline(in, line)) {
        if (line.compare(0, n, field) == 0 && line.size() > n && line[n] == ':')
            return std::strtoull(line.c_str() + n + 1, nullptr, 10) * 1024;
    }
    return 0;
}

// Sets the high-water mark back to the current resident size.
bool resetPeak() {
    std::ofstream out("/proc/self/clear_refs");
    out << "5";
    return static_cast<bool>(out.flush());
}

bool load(HostEngine& e) {
    if (!openHostEngine(e)) {
        std::fprintf(stderr, "bench_cost: cannot load %s: %s\n", kHostEngineFile, dlerror());
        return false;
    }
    if (!e.init || !e.deinit || !e.scan || !e.freeString) {
        std::fprintf(stderr, "bench_cost: the engine lacks init, deinit, scan or freeString\n");
        return false;
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    int repeat = 3;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        if (std::strncmp(argv[i], "--repeat=", 9) == 0)
            repeat = std::max(1, std::atoi(argv[i] + 9));
        else if (std::strcmp(argv[i], "--repeat") == 0 && i + 1 < argc)
            repeat = std::max(1, std::atoi(argv[++i]));
        else
            files.push_back(argv[i]);
    }
    if (files.empty()) {
        std::fprintf(stderr, "usage: bench_cost [--repeat N] FILE...   (run inside an engine run directory)\n");
        return 2;
    }
    HostEngine e;
    if (!load(e)) return 2;
    if (e.init() != 0) {
        std::fprintf(stderr, "bench_cost: the engine did not start (run it inside a run directory)\n");
        return 2;
    }
    int failures = 0;
    for (const std::string& path : files) {
        std::vector<double> seconds;
        std::string json;
        const bool peakKnown = resetPeak();
        const uint64_t before = statusBytes("VmRSS");
        for (int r = 0; r < repeat; ++r) {
            char* out = nullptr;
            uint32_t status = 0;
            const auto start = std::chrono::steady_clock::now();
            const int rc = e.scan(path.c_str(), &status, &out);
            seconds.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            if (rc != 0 || out == nullptr) {
                ++failures;
                json = "scan failed";
                break;
            }
            json = out;
            e.freeString(&out);
        }
        const uint64_t peak = statusBytes("VmHWM");
        std::sort(seconds.begin(), seconds.end());
        const double median = seconds[seconds.size() / 2];
        const long long added = peakKnown && peak >= before ? static_cast<long long>(peak - before) : -1;
        std::printf("%s\t%.4f\t%lld\t%s\n", path.c_str(), median, added, json.c_str());
        std::fflush(stdout);
    }
    e.deinit();
    return failures == 0 ? 0 : 1;
}
