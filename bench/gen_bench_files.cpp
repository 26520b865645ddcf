// Writes the benchmark's user files into a folder, for looking at them or loading them by hand:
//   gfpdb_bench_files FOLDER COUNT [SEED]
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bench/bench_files.h"

int main(int argc, char** argv) {
    if (argc < 3 || argc > 4) {
        std::fprintf(stderr, "usage: %s FOLDER COUNT [SEED]\n", argv[0]);
        return 2;
    }
    char* end = nullptr;
    const unsigned long long count = std::strtoull(argv[2], &end, 10);
    if (*end) {
        std::fprintf(stderr, "COUNT must be a number: %s\n", argv[2]);
        return 2;
    }
    unsigned long long seed = 1;
    if (argc == 4) {
        seed = std::strtoull(argv[3], &end, 0);
        if (*end) {
            std::fprintf(stderr, "SEED must be a number: %s\n", argv[3]);
            return 2;
        }
    }
    BENCH_FILES files;
    std::string error;
    if (!bench_write_user_files(argv[1], count, seed, &files, &error)) {
        std::fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    std::printf("%zu files, %llu bytes, %.1f KB per device file on average\n", files.files,
                static_cast<unsigned long long>(files.bytes),
                files.files ? static_cast<double>(files.bytes) / 1024.0 / files.files : 0.0);
    return 0;
}
