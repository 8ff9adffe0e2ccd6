#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <type_traits>

namespace AppCore {

// The four data types a run sorts, in the order it sorts them.
enum class DataType { INT, FLOAT, BIGINT, BIGFLOAT };

// What the program knows of a data type. Banners, console lines, file names,
// JSON names and the GPU shaders' type constant all come from this one table.
struct DataTypeFacts {
    DataType type;
    const char* name;      // verbatim in banners, console lines and file names
    unsigned keyBytes;     // width of one key (and one element)
    bool isFloat;          // IEEE-754 keys rather than two's-complement integers
    std::int32_t gpuCode;  // the GPU shaders' specialization constant for the type
};

inline constexpr std::array<DataTypeFacts, 4> kDataTypes{{
    {DataType::INT, "INT", 4, false, 3},
    {DataType::FLOAT, "FLOAT", 4, true, 2},
    {DataType::BIGINT, "BIGINT", 8, false, 1},
    {DataType::BIGFLOAT, "BIGFLOAT", 8, true, 0},
}};

constexpr const DataTypeFacts& FactsOf(DataType type) { return kDataTypes[static_cast<std::size_t>(type)]; }
constexpr const char* DataTypeName(DataType type) { return FactsOf(type).name; }

// The data type with GPU code `code`; null for a code no type has.
constexpr const DataTypeFacts* FactsOfGpuCode(std::int32_t code) {
    for (const DataTypeFacts& facts : kDataTypes) {
        if (facts.gpuCode == code) return &facts;
    }
    return nullptr;
}

// The element type of a data type.
template <DataType Type>
using ElementOf =
    std::conditional_t<Type == DataType::INT, std::int32_t,
                       std::conditional_t<Type == DataType::FLOAT, float,
                                          std::conditional_t<Type == DataType::BIGINT, std::int64_t, double>>>;

// The data type whose elements are `Element`.
template <class Element>
constexpr DataType DataTypeOf() {
    if constexpr (std::is_same_v<Element, std::int32_t>) {
        return DataType::INT;
    } else if constexpr (std::is_same_v<Element, float>) {
        return DataType::FLOAT;
    } else if constexpr (std::is_same_v<Element, std::int64_t>) {
        return DataType::BIGINT;
    } else {
        static_assert(std::is_same_v<Element, double>, "INT, FLOAT, BIGINT and BIGFLOAT elements only");
        return DataType::BIGFLOAT;
    }
}

template <class Element>
constexpr const char* DataTypeName() {
    return DataTypeName(DataTypeOf<Element>());
}

// Expands `INSTANTIATE(Element)` once for each data type's element, in the
// table's order: the one list of the explicit instantiations of templates over
// the element type.
#define SORTBENCH_FOR_EACH_ELEMENT(INSTANTIATE) \
    INSTANTIATE(std::int32_t)                   \
    INSTANTIATE(float)                          \
    INSTANTIATE(std::int64_t)                   \
    INSTANTIATE(double)

static_assert(sizeof(ElementOf<DataType::INT>) == FactsOf(DataType::INT).keyBytes);
static_assert(sizeof(ElementOf<DataType::FLOAT>) == FactsOf(DataType::FLOAT).keyBytes);
static_assert(sizeof(ElementOf<DataType::BIGINT>) == FactsOf(DataType::BIGINT).keyBytes);
static_assert(sizeof(ElementOf<DataType::BIGFLOAT>) == FactsOf(DataType::BIGFLOAT).keyBytes);

}  // namespace AppCore
