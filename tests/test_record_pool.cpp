// The record pool: a freed block serves the next record of its size, and the last record
// released gives every region back.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "pgm/gfpdb/gfpdb_qspi_action.h"
#include "pgm/gfpdb/gfpdb_record_pool.h"

namespace {

TEST(RecordPool, RecordsShareRegionsThatGoBackWithTheLastRecord) {
    ASSERT_EQ(GFPDB_RECORD_POOL::blocks_out(), 0u);
    std::vector<std::unique_ptr<GFPDB_ACTION>> actions;
    for (int i = 0; i < 100000; ++i) {  // more than one region's worth
        actions.emplace_back(new GFPDB_QSPI_ACTION(GFPDB_ACT_TYPE_WRITE_REGISTER));
        actions.back()->set_property_value(GFPDB_ACT_PROPERTY_WRITE_REG_COMMAND, "0x06");
    }
    if (!GFPDB_RECORD_POOL::pooling()) {  // a sanitizer build: everything on the heap
        EXPECT_EQ(GFPDB_RECORD_POOL::blocks_out(), 0u);
        EXPECT_EQ(GFPDB_RECORD_POOL::region_bytes(), 0u);
        return;
    }
    EXPECT_EQ(GFPDB_RECORD_POOL::blocks_out(), 200000u);  // each action and its values
    EXPECT_GT(GFPDB_RECORD_POOL::region_bytes(), size_t(8) << 20);

    GFPDB_ACTION* freed = actions[5].get();
    actions[5].reset();
    actions[5].reset(new GFPDB_QSPI_ACTION(GFPDB_ACT_TYPE_WRITE_REGISTER));
    EXPECT_EQ(actions[5].get(), freed);

    actions.clear();
    EXPECT_EQ(GFPDB_RECORD_POOL::blocks_out(), 0u);
    EXPECT_EQ(GFPDB_RECORD_POOL::region_bytes(), 0u);
}

TEST(RecordPool, BlocksAboveAKilobyteComeFromTheHeap) {
    void* block = GFPDB_RECORD_POOL::allocate(1025);
    EXPECT_EQ(GFPDB_RECORD_POOL::blocks_out(), 0u);
    GFPDB_RECORD_POOL::release(block, 1025);
    block = GFPDB_RECORD_POOL::allocate(1024);
    EXPECT_EQ(GFPDB_RECORD_POOL::blocks_out(), GFPDB_RECORD_POOL::pooling() ? 1u : 0u);
    GFPDB_RECORD_POOL::release(block, 1024);
}

}  // namespace
