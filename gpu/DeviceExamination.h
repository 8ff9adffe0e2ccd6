#pragma once

// The stages of examining one physical device for the start-up report, in
// report order. A stage queries facts into the device's record, gives the
// report lines of what is known so far, then names the first of the sort's
// needs the device misses. The stages stop at the first miss, so a device is
// only asked what its earlier answers allow: a structure of an extension it
// lacks is never chained into a query.
#include <span>
#include <string>
#include <vector>

#include "gpu/QVEvalCore.h"

namespace QVEvalCore {

struct ExaminationStage {
    // Fills facts of `info` from the device; null when the stage needs none.
    void (*query)(vk::PhysicalDevice handle, QVCore::PhysicalDeviceInfo& info);
    // The report lines, each without its line break; null when there are none.
    std::vector<std::string> (*report)(const QVCore::PhysicalDeviceInfo& info);
    // " - <reason>" for the need the device misses, empty when it meets the
    // stage's needs; records what it chooses (extensions and features to
    // enable, queue families). Null when the stage checks nothing.
    std::string (*check)(QVCore::PhysicalDeviceInfo& info, const CoreOptions& options);
};

std::span<const ExaminationStage> ExaminationStages();

}  // namespace QVEvalCore
