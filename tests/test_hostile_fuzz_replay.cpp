// The fuzz targets replayed by the suite, with any compiler: every input that once broke one
// of their properties (tests/fuzz_regressions/<target>/) and every seed (fuzz/corpus/<target>/)
// must keep them all.
#define GFPDB_FUZZ_REPLAY
#include "fuzz/fuzz_qspi_file.cpp"
#include "fuzz/fuzz_round_trip.cpp"
#include "fuzz/fuzz_sdmmc_file.cpp"
#include "fuzz/fuzz_sfdp.cpp"
#include "fuzz/fuzz_values.cpp"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

struct TARGET {
    const char* name;
    int (*run)(const uint8_t* data, size_t size);
};

const TARGET targets[] = {
    {"qspi_file", gfpdb_fuzz_target_qspi_file}, {"sdmmc_file", gfpdb_fuzz_target_sdmmc_file},
    {"values", gfpdb_fuzz_target_values},       {"round_trip", gfpdb_fuzz_target_round_trip},
    {"sfdp", gfpdb_fuzz_target_sfdp},
};

class FuzzReplay : public ::testing::TestWithParam<TARGET> {};

TEST_P(FuzzReplay, KeptInputsKeepEveryProperty) {
    const TARGET& target = GetParam();
    const std::string source = GFPDB_SOURCE_DIR;
    size_t replayed = 0;
    for (const std::string& dir : {source + "/tests/fuzz_regressions/" + target.name,
                                   source + "/fuzz/corpus/" + target.name}) {
        if (!gfpdb_fuzz::fs::exists(dir))
            continue;
        std::vector<std::string> files;
        for (const auto& entry : gfpdb_fuzz::fs::directory_iterator(dir))
            files.push_back(entry.path().string());
        std::sort(files.begin(), files.end());
        for (const std::string& file : files) {
            const std::string input = gfpdb_fuzz::read_file(file);
            try {
                target.run(reinterpret_cast<const uint8_t*>(input.data()), input.size());
            } catch (const std::exception& e) {
                ADD_FAILURE() << file << ": " << e.what();
            }
            ++replayed;
        }
    }
    EXPECT_GT(replayed, 0u) << "no kept input for " << target.name;
}

INSTANTIATE_TEST_SUITE_P(Targets, FuzzReplay, ::testing::ValuesIn(targets),
                         [](const ::testing::TestParamInfo<TARGET>& target) {
                             return std::string(target.param.name);
                         });

}  // namespace
