// libmagic alone, in process: one handle loaded once, then one magic_file call per file
// (with --mime, a second handle answering the MIME type as well, as the engine's generic
// stage asks both). Prints the same statistics line as kivscan --stats.
//   bench_libmagic [--mime] MAGIC_MGC LISTFILE      (LISTFILE: one path per line)
#include <magic.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    bool mime = argc > 1 && std::strcmp(argv[1], "--mime") == 0;
    if (argc != (mime ? 4 : 3)) {
        std::fprintf(stderr, "usage: bench_libmagic [--mime] MAGIC_MGC LISTFILE\n");
        return 2;
    }
    const char* database = argv[mime ? 2 : 1];
    std::vector<std::string> files;
    std::ifstream list(argv[mime ? 3 : 2]);
    for (std::string line; std::getline(list, line);)
        if (!line.empty()) files.push_back(line);

    // The flags the engine opens its handles with.
    magic_t description = magic_open(MAGIC_RAW | MAGIC_ERROR);
    magic_t type = mime ? magic_open(MAGIC_MIME_TYPE | MAGIC_RAW | MAGIC_ERROR) : nullptr;
    if (description == nullptr || magic_load(description, database) != 0 ||
        (mime && (type == nullptr || magic_load(type, database) != 0))) {
        std::fprintf(stderr, "bench_libmagic: cannot load %s\n", database);
        return 2;
    }
    size_t answered = 0;
    auto start = std::chrono::steady_clock::now();
    for (const std::string& f : files) {
        if (magic_file(description, f.c_str()) != nullptr) ++answered;
        if (mime) magic_file(type, f.c_str());
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::fprintf(stderr, "files %zu, seconds %.3f, files/s %.1f, threads 1\n", files.size(), seconds,
                 seconds > 0 ? static_cast<double>(files.size()) / seconds : 0.0);
    magic_close(description);
    if (type != nullptr) magic_close(type);
    return answered == files.size() ? 0 : 1;
}
