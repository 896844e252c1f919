// Stands in for libFuzzer's driver in the normal (gcc) builds, so that CTest replays every
// seed and every committed reproducer through the target on each run:
//
//   fuzz_<name> [--mutations=N] PATH...
//
// A PATH is an input file or a directory of them (walked recursively; names starting with
// '.' are skipped). With --mutations=N each input is also fed N damaged copies, each with
// about 1% of its bytes replaced, from a fixed random seed so that a failure repeats. Inputs
// over 64 KiB (the costliest shapes, written at the targets' size cap) get N * 4 KiB / size
// copies, at least one (a 1 MiB seed with N = 1000 gets 3), so that they do not dominate.
// A crash, a sanitizer report or an abort fails the run; so does finding no input at all.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "FuzzSupport.h"

// Targets that need set-up define LLVMFuzzerInitialize; the others leave this weak one null.
extern "C" __attribute__((weak)) int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

namespace fs = std::filesystem;

std::vector<uint8_t> readFile(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

void collect(const fs::path& p, std::vector<fs::path>& out) {
    std::error_code ec;
    if (fs::is_directory(p, ec)) {
        std::vector<fs::path> found;
        for (auto it = fs::recursive_directory_iterator(p, ec); !ec && it != fs::recursive_directory_iterator();
             it.increment(ec)) {
            if (it->path().filename().string().rfind('.', 0) == 0) {
                if (it->is_directory()) it.disable_recursion_pending();
                continue;
            }
            if (it->is_regular_file()) found.push_back(it->path());
        }
        std::sort(found.begin(), found.end());
        out.insert(out.end(), found.begin(), found.end());
    } else if (fs::is_regular_file(p, ec)) {
        out.push_back(p);
    } else {
        std::fprintf(stderr, "replay: nothing at %s\n", p.c_str());
    }
}

// Replaces about 1% of the bytes (at least one) with random values.
void damage(std::vector<uint8_t>& bytes, std::mt19937& rng) {
    if (bytes.empty()) return;
    const size_t n = std::max<size_t>(1, bytes.size() / 100);
    std::uniform_int_distribution<size_t> where(0, bytes.size() - 1);
    std::uniform_int_distribution<int> value(0, 255);
    for (size_t i = 0; i < n; ++i) bytes[where(rng)] = static_cast<uint8_t>(value(rng));
}

}  // namespace

int main(int argc, char** argv) {
    if (LLVMFuzzerInitialize != nullptr) LLVMFuzzerInitialize(&argc, &argv);
    unsigned long mutations = 0;
    std::vector<fs::path> inputs;
    for (int i = 1; i < argc; ++i) {
        const char* a = argv[i];
        if (std::strncmp(a, "--mutations=", 12) == 0) {
            mutations = std::strtoul(a + 12, nullptr, 10);
        } else {
            collect(a, inputs);
        }
    }
    if (inputs.empty()) {
        std::fprintf(stderr, "replay: no inputs\n");
        return 1;
    }
    constexpr size_t kFullMutationBytes = 64 * 1024;
    constexpr size_t kLargeMutationBytes = 4 * 1024;
    std::mt19937 rng(20240101);
    unsigned long runs = 0;
    for (const fs::path& p : inputs) {
        const std::vector<uint8_t> bytes = readFile(p);
        // A fresh copy, so that a read past the end meets the sanitizer's redzone.
        std::vector<uint8_t> copy(bytes);
        LLVMFuzzerTestOneInput(copy.data(), copy.size());
        ++runs;
        const unsigned long copies =
            bytes.size() > kFullMutationBytes
                ? std::min(mutations, std::max(1UL, mutations * kLargeMutationBytes / bytes.size()))
                : mutations;
        for (unsigned long m = 0; m < copies; ++m) {
            copy = bytes;
            damage(copy, rng);
            LLVMFuzzerTestOneInput(copy.data(), copy.size());
            ++runs;
        }
    }
    std::printf("replay: %zu inputs, %lu runs\n", inputs.size(), runs);
    return 0;
}
