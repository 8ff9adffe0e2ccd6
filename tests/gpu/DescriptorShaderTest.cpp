// The descriptor bundle and shader modules on the software device.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "gpu/OwnedHandle.h"
#include "gpu/QVEvalCore.h"
#include "tests/gpu/GpuTestSupport.h"

namespace {

using GpuTest::CheckedCore;
using GpuTest::CoutCapture;
using QVEvalCore::QVCore;
using Type = vk::DescriptorType;
using PoolSizes = std::vector<vk::DescriptorPoolSize>;

const vk::ShaderStageFlags kCompute = vk::ShaderStageFlagBits::eCompute;

class DescriptorShaderTest : public testing::Test {
protected:
    DescriptorShaderTest() : core("descriptors", GpuTest::SoftwareDevice()) {}
    vk::Device Device() const { return core->SelectedDevice().device; }

    CheckedCore<> core;
};

TEST_F(DescriptorShaderTest, sort_layouts_tally_pool_sizes_and_round_them_to_four) {
    QVCore::DescriptorSetInfo bundle;
    // The GPU sort's two sets: a variable array of 8 key buffers; three scratch
    // regions and a 12-byte inline uniform block.
    bundle.CreateLayout(Device(), {{0, Type::eStorageBuffer, 8, kCompute}},
                        {vk::DescriptorBindingFlagBits::eVariableDescriptorCount}, {});
    const vk::DescriptorBindingFlags partly = vk::DescriptorBindingFlagBits::ePartiallyBound;
    bundle.CreateLayout(Device(),
                        {{0, Type::eStorageBuffer, 1, kCompute},
                         {1, Type::eStorageBuffer, 1, kCompute},
                         {2, Type::eStorageBuffer, 1, kCompute},
                         {3, Type::eInlineUniformBlockEXT, 12, kCompute}},
                        {partly, partly, {}, {}}, {});
    EXPECT_EQ(bundle.poolSizes, (PoolSizes{{Type::eStorageBuffer, 11}, {Type::eInlineUniformBlockEXT, 12}}));

    bundle.CreatePool(Device(), vk::DescriptorPoolCreateFlagBits::eFreeDescriptorSet, 0);
    EXPECT_TRUE(bundle.pool);
    EXPECT_EQ(bundle.poolSizes, (PoolSizes{{Type::eStorageBuffer, 12}, {Type::eInlineUniformBlockEXT, 12}}));
    EXPECT_THROW(bundle.Allocate(Device(), {8}), std::invalid_argument) << "one count per layout or none";
    bundle.Allocate(Device(), {8, 0});
    ASSERT_EQ(bundle.sets.size(), 2u);
    EXPECT_TRUE(bundle.sets[0] && bundle.sets[1]);
    EXPECT_EQ(bundle.layouts.size(), 2u);
    bundle.Destroy(Device());
}

TEST_F(DescriptorShaderTest, rounding_stops_after_the_first_inline_uniform_block) {
    QVCore::DescriptorSetInfo bundle;
    bundle.CreateLayout(Device(),
                        {{0, Type::eStorageBuffer, 1, kCompute},
                         {1, Type::eUniformBuffer, 4, kCompute},
                         {2, Type::eStorageTexelBuffer, 5, kCompute}},
                        {}, {});
    bundle.CreateLayout(Device(), {{0, Type::eInlineUniformBlockEXT, 12, kCompute}, {1, Type::eSampler, 3, kCompute}},
                        {}, {});
    bundle.CreatePool(Device(), {}, 0);
    EXPECT_EQ(bundle.poolSizes, (PoolSizes{{Type::eStorageBuffer, 4},
                                           {Type::eUniformBuffer, 4},
                                           {Type::eStorageTexelBuffer, 8},
                                           {Type::eInlineUniformBlockEXT, 12},
                                           {Type::eSampler, 3}}));
    bundle.Allocate(Device(), {});
    EXPECT_EQ(bundle.sets.size(), 2u);
    bundle.Destroy(Device());
    EXPECT_TRUE(!bundle.pool && bundle.layouts.empty() && bundle.sets.empty() && bundle.poolSizes.empty());
}

TEST_F(DescriptorShaderTest, load_shader_makes_a_module_from_spirv_only) {
    const std::filesystem::path directory = std::filesystem::temp_directory_path();
    const std::string missing = (directory / ("sortbench-no-shader-" + std::to_string(getpid()))).string();
    const std::string text = (directory / ("sortbench-text-shader-" + std::to_string(getpid()))).string();
    std::ofstream(text) << "not SPIR-V!\n";  // 12 bytes: whole words, wrong magic

    CoutCapture output;
    const QVCore::LoadedShader none = core->LoadShader(Device(), missing.c_str(), {});
    EXPECT_FALSE(none.module);
    EXPECT_EQ(none.problem, "") << "a missing file is the caller's to report";

    const QVCore::LoadedShader notSpirv = core->LoadShader(Device(), text.c_str(), {});
    EXPECT_FALSE(notSpirv.module);
    EXPECT_EQ(notSpirv.problem, "Could not load shader " + text + ": not a SPIR-V module (12 bytes)");
    EXPECT_EQ(output.Text(), "");
    std::filesystem::remove(text);

    const QVEvalCore::Owned<vk::ShaderModule> module =
        QVEvalCore::Own(Device(), core->LoadShader(Device(), SORTBENCH_TEST_SHADER, {}).module);
    EXPECT_TRUE(*module);
    EXPECT_EQ(GpuTest::Lines(output.Text()).back(), std::string("Load Shader: ") + SORTBENCH_TEST_SHADER);
}

}  // namespace
