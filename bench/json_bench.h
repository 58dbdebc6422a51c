// Shared by the JSON benchmarks: the corpora and the names the summary reads.
//
// Every benchmark is named <Operation>/<library>/<corpus>. The summary printed after the run
// (json_bench_main.cpp) groups them by corpus and operation and compares brenvo with each peer.
#pragma once

#include <string>
#include <string_view>

namespace brenvo::bench {

// The corpus files, <name>.json in the benchmark data folder.
inline constexpr const char* kCorpora[] = {"canada", "citm_catalog", "twitter"};

// The library whose figures are compared with every other one.
inline constexpr const char* kSubject = "brenvo";

// Heap bytes the parsed document holds, per input byte: the counter of Memory/* benchmarks.
inline constexpr const char* kBytesPerInputByte = "heap_per_byte";

// Input bytes of the scaling document: the counter of Scaling/* benchmarks, whose time is then
// divided by it to give nanoseconds per byte.
inline constexpr const char* kInputBytes = "input_bytes";

// The text of corpus `name`, read once and kept; empty when the file cannot be read.
const std::string& corpus(const std::string& name);

// `json_bench --memory-probe <library> <corpus>`: prints the heap bytes per input byte of the
// corpus parsed by the library, measured in this process's heap; 0 on success.
int memoryProbe(std::string_view library, std::string_view corpus);

} // namespace brenvo::bench
