// libmagic alone, in process: one handle loaded once, then one magic_file call per file
// (with --mime, a second handle answering the MIME type as well, as the engine's generic
// stage asks both). With --threads N, N threads share the files, each with handles of its
// own, so a host's memory and scaling can be set beside what libmagic alone makes of them.
// Prints the same statistics line as kivscan --stats.
//   bench_libmagic [--mime] [--threads N] MAGIC_MGC LISTFILE      (LISTFILE: one path per line)
#include <magic.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

int main(int argc, char** argv) {
    bool mime = false;
    unsigned threads = 1;
    int arg = 1;
    for (; arg < argc && argv[arg][0] == '-'; ++arg) {
        if (std::strcmp(argv[arg], "--mime") == 0)
            mime = true;
        else if (std::strcmp(argv[arg], "--threads") == 0 && arg + 1 < argc)
            threads = static_cast<unsigned>(std::max(1, std::atoi(argv[++arg])));
        else
            break;
    }
    if (argc - arg != 2) {
        std::fprintf(stderr, "usage: bench_libmagic [--mime] [--threads N] MAGIC_MGC LISTFILE\n");
        return 2;
    }
    const char* database = argv[arg];
    std::vector<std::string> files;
    std::ifstream list(argv[arg + 1]);
    for (std::string line; std::getline(list, line);)
        if (!line.empty()) files.push_back(line);

    // The flags the engine opens its handles with; loaded before the clock starts.
    struct Handles {
        magic_t description = nullptr, type = nullptr;
    };
    std::vector<Handles> handles(threads);
    bool loaded = true;
    for (Handles& h : handles) {
        h.description = magic_open(MAGIC_RAW | MAGIC_ERROR);
        h.type = mime ? magic_open(MAGIC_MIME_TYPE | MAGIC_RAW | MAGIC_ERROR) : nullptr;
        loaded = loaded && h.description != nullptr && magic_load(h.description, database) == 0 &&
                 (!mime || (h.type != nullptr && magic_load(h.type, database) == 0));
    }
    if (!loaded) {
        std::fprintf(stderr, "bench_libmagic: cannot load %s\n", database);
        return 2;
    }
    std::atomic<size_t> next{0}, answered{0};
    auto worker = [&](const Handles& h) {
        for (size_t i; (i = next.fetch_add(1)) < files.size();) {
            if (magic_file(h.description, files[i].c_str()) != nullptr) ++answered;
            if (mime) magic_file(h.type, files[i].c_str());
        }
    };
    auto start = std::chrono::steady_clock::now();
    std::vector<std::thread> pool;
    for (const Handles& h : handles) pool.emplace_back(worker, std::cref(h));
    for (std::thread& t : pool) t.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "files %zu, seconds %.3f, files/s %.1f, threads %u\n", files.size(), seconds,
                 seconds > 0 ? static_cast<double>(files.size()) / seconds : 0.0, threads);
    for (Handles& h : handles) {
        magic_close(h.description);
        if (h.type != nullptr) magic_close(h.type);
    }
    return answered == files.size() ? 0 : 1;
}
