#pragma once

// The Vulkan bindings as every file of the GPU core sees them, through one
// dispatch table.
//
// Every Vulkan call goes through Vulkan-Hpp's process-wide dynamic dispatch
// table (vk::defaultDispatchLoaderDynamic), filled by the core in three steps:
// loader globals, instance functions, device functions. The table being global,
// a process holds one live core at a time, created and used on one thread.
//
// The sortbench_gpu target defines VULKAN_HPP_DISPATCH_LOADER_DYNAMIC=1 and
// VK_NO_PROTOTYPES for everyone who links it, so no translation unit can bind
// to libvulkan at link time: the loader is only ever opened with dlopen.

#if !defined(VULKAN_HPP_DISPATCH_LOADER_DYNAMIC) || VULKAN_HPP_DISPATCH_LOADER_DYNAMIC != 1 || \
    !defined(VK_NO_PROTOTYPES)
#error "link sortbench_gpu: its users must see VULKAN_HPP_DISPATCH_LOADER_DYNAMIC=1 and VK_NO_PROTOTYPES"
#endif

#include <vulkan/vulkan.hpp>

// vk::DispatchLoaderDynamic is larger without NDEBUG, so a translation unit
// built with another NDEBUG setting than the library would read the table at
// the wrong offsets. Each includer references the symbol of its own setting;
// the library defines only its own, so a mismatch fails at link time.
#ifdef NDEBUG
extern "C" const int sortbench_gpu_dispatch_table_built_with_NDEBUG;
[[gnu::used]] static const int* const sortbench_gpu_dispatch_layout = &sortbench_gpu_dispatch_table_built_with_NDEBUG;
#else
extern "C" const int sortbench_gpu_dispatch_table_built_without_NDEBUG;
[[gnu::used]] static const int* const sortbench_gpu_dispatch_layout =
    &sortbench_gpu_dispatch_table_built_without_NDEBUG;
#endif
