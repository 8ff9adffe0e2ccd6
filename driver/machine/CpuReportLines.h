#pragma once

#include <string>
#include <vector>

// The CPU lines of the system report, as the report has always picked them out
// of cpuinfo text: "  <key>:<value>" for each line whose key is "vendor_id",
// "model name", "cpu MHz", "cache size" or "cpu cores", in input order,
// stopping at the first "flags" line. Parsing per line: tabs are dropped; a
// space survives only before an ASCII letter or digit, otherwise it and the
// character after it are dropped (a dropped newline leaves the line
// unreported); the first ":" starts the value, every ":" is dropped. A last
// line without a newline is never complete and not reported. Lines carry no
// line feed.
std::vector<std::string> CpuReportLines(const std::string& cpuinfo);
