#include "driver/sorters/ColumnFloors.h"

#include <gtest/gtest.h>

#include "driver/measuring/MemoryFloor.h"

namespace {

CpuLimits OneSize() {
    const AccessRates rates{.copyBytes = 20e9, .loads4 = 200e6, .loads8 = 150e6, .stores256 = 400e6,
                            .stores65536 = 150e6, .moves4 = 150e6, .moves8 = 60e6};
    CpuLimits limits;
    limits.cpus = 2;
    limits.repeats = 1;
    limits.arrays = {{.arrayBytes = 4096, .oneThread = rates, .allCpus = rates}};
    return limits;
}

}  // namespace

TEST(ColumnFloors, radix_columns_on_uniform_keys_and_the_gpu_on_card_column_have_a_floor) {
    using AppCore::DataType;
    const CpuLimits limits = OneSize();
    const std::uint64_t n = 100000;
    EXPECT_EQ(ColumnFloorMs(Column::Cpu2Thread, DataType::INT, Distribution::Uniform, n, limits, {}),
              RadixSortFloorMs(4, n, 2, limits, 24));
    EXPECT_EQ(ColumnFloorMs(Column::Cpu1Thread, DataType::BIGFLOAT, Distribution::Uniform, n, limits, {}),
              RadixSortFloorMs(8, n, 1, limits, 48));
    EXPECT_GT(*ColumnFloorMs(Column::Cpu8Thread, DataType::BIGINT, Distribution::Uniform, n, limits, {}), 0.0);
    for (const Column column : {Column::CpuStandard, Column::Gpu, Column::GpuTransfer, Column::PeerVqsort})
        EXPECT_FALSE(ColumnFloorMs(column, DataType::INT, Distribution::Uniform, n, limits, {}));
    EXPECT_FALSE(ColumnFloorMs(Column::Cpu1Thread, DataType::INT, Distribution::Sorted, n, limits, {}));
    EXPECT_FALSE(ColumnFloorMs(Column::Cpu1Thread, DataType::INT, Distribution::Uniform, n, CpuLimits{}, {}));

    GpuLimits gpu;
    gpu.bufferBytes = 1 << 20;
    gpu.copyBytes = gpu.uploadBytes = gpu.readBackBytes = 10e9;
    for (const Distribution distribution : {Distribution::Uniform, Distribution::Sorted, Distribution::Equal})
        EXPECT_EQ(ColumnFloorMs(Column::GpuOnCard, DataType::BIGINT, distribution, n, limits, gpu),
                  GpuOnCardFloorMs(8, n, gpu));
    EXPECT_FALSE(ColumnFloorMs(Column::GpuOnCard, DataType::INT, Distribution::Uniform, n, limits, {}));
}
