#pragma once

// Exit statuses of the program, one name per meaning. Several meanings share a
// number, which the README's table gives; an interrupted run ends with
// 128 + the signal instead.
inline constexpr int kExitComplete = 0;       // every data type and count benchmarked and written; also -h
inline constexpr int kExitInfoOnly = 1;       // "-INFO": the run ends after the system report
inline constexpr int kExitBadOption = 1;      // an option value the run cannot use (also an -O path through
                                              // another user's link); nothing was created
inline constexpr int kExitCheckFailed = 1;    // a -QA, peer or pair column check found a different permutation
inline constexpr int kExitNoGpu = 1;          // -GPU without a usable GPU, driver or shaders
inline constexpr int kExitGpuSortFailed = 1;  // a GPU sort failed during the run
inline constexpr int kExitTooLarge = 1;       // a data set the machine or 32-bit indices cannot hold
inline constexpr int kExitNoThreads = 1;      // a sort could not start its threads
inline constexpr int kExitIncomplete = 1;     // cells or the -JSON file the disk did not take
inline constexpr int kExitNoDirectory = 255;  // the log or run directory, or a result file, cannot be created
