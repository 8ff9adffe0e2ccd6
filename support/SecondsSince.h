#pragma once

#include <chrono>

namespace AppCore {

// The seconds the steady clock has run since `start`, as a double: the one
// reading of elapsed time that budgets, estimates and probes share.
inline double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace AppCore
