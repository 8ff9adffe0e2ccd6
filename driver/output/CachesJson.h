#pragma once

#include "driver/machine/MachineFacts.h"
#include "driver/output/JsonWriter.h"

// The CPU's caches as both JSON documents spell them (Google Benchmark's
// context names): an array of {"type", "level", "size", "num_sharing"}, each
// object laid out as `layout` says.
inline void WriteCaches(JsonWriter& json, const std::vector<CacheFacts>& caches, JsonWriter::Layout layout) {
    json.OpenArray(layout);
    for (const CacheFacts& cache : caches) {
        json.OpenObject(layout);
        json.Key("type").String(cache.type);
        json.Key("level").Unsigned(cache.level);
        json.Key("size").Unsigned(cache.bytes);
        json.Key("num_sharing").Unsigned(cache.sharingCpus);
        json.Close();
    }
    json.Close();
}
