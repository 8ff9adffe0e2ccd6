#pragma once

// What the selected device allows for the traffic of the GPU sort, measured on
// the core a sorter already has: the rates its times are held against. Never
// prints.
//
// Three figures, per second, each the best of `repeats` timings (the noise of
// a shared machine only ever adds time), the three taking turns:
//   copy       vkCmdCopyBuffer between two device-local buffers on the compute
//              queue, where the sort runs, timed by the device's timestamps
//              around the copy: bytes read plus bytes written.
//   upload     host memory into a device-local buffer as the sorter uploads
//              keys: a memcpy into mapped staging memory, then a copy on the
//              transfer queue, submitted and waited for; host time.
//   read-back  a device-local buffer to host memory as the sorter reads back
//              indices: a copy into staging memory on the transfer queue,
//              submitted and waited for, then the copy out of the mapping in
//              25 MiB pieces, one thread each; host time.
// The sorter makes a staging buffer per transfer; the probe makes its one
// before the timings, so the transfer figures leave out what allocating and
// mapping cost.
//
// Buffers are large enough to leave the caches of a real GPU: 64 MiB each by
// default, lowered to the device's maxAllocation, to a quarter of the largest
// heap of each kind of memory used, and to a quarter of the budget (the probe
// holds four buffers), in whole MiB. Every buffer is written once before the
// timings, so no timing pays for first touches.

#include <cstdint>

#include "gpu/DeviceLimitsRecord.h"
#include "gpu/QVEvalCore.h"

namespace QVEvalCore {

// Bytes the probe takes with buffers of `bufferBytes`: two device-local
// buffers, one staging buffer and one host array.
inline constexpr uint64_t DeviceLimitsProbeBytes(uint64_t bufferBytes) { return 4 * bufferBytes; }

// Measures the figures on the core's selected device, using its transfer
// command buffer as the core's own transfers do; call it between sorts. When
// the core has no device, the compute queue has no timestamps, the buffers
// cannot be had or fall below 1 MiB, or a Vulkan call fails, returns a record
// with `skipped` set, having released everything it made. Never throws for
// those.
DeviceLimits ProbeDeviceLimits(const QVCore& core, const DeviceLimitsOptions& options = {});

}  // namespace QVEvalCore
