#pragma once

#include "support/AsciiMaps.h"

// The byte weights TextStableSort collates by: the support library's tables
// themselves, not copies (see support/AsciiMaps.h for their layout).
namespace EvalCore {

using AppCore::Tools::ascii_map_no_case;
using AppCore::Tools::ascii_map_with_case;

}  // namespace EvalCore
