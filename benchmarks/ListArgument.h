#pragma once

#include <sstream>
#include <string>
#include <vector>

// The items of a comma-separated command-line value such as "--sizes=1000000,10000000";
// empty items are dropped.
inline std::vector<std::string> SplitList(const std::string& text) {
    std::vector<std::string> items;
    std::stringstream stream(text);
    for (std::string item; std::getline(stream, item, ',');)
        if (!item.empty()) items.push_back(item);
    return items;
}
