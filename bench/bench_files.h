// Writes a folder of user QSPI device files for the benchmarks: realistic devices (two flows,
// five operations each, about thirty actions, about 10 KB per file) and a few user template
// files. The same arguments always give the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct BENCH_FILES {
    std::vector<std::string> device_names;  // in file order
    std::vector<std::string> template_names;
    uint64_t bytes = 0;  // all files written
    size_t files = 0;
};

// How many user template files every folder gets besides its devices.
constexpr size_t bench_template_file_count = 4;

// Writes `device_count` device files "pgm_flash_<name>.xml" and the template files
// "pgm_flash_template_<name>.xml" into `dir` (which must exist). False, with the reason in
// `error`, when a file cannot be written.
bool bench_write_user_files(const std::string& dir, size_t device_count, uint64_t seed,
                            BENCH_FILES* files, std::string* error);

// The text of one device file, for callers that want it without the disk.
std::string bench_device_file_text(size_t index, uint64_t seed, std::string* name);
