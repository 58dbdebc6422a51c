// How parse and write times grow with the input: documents of one shape in three sizes, so time
// per input byte shows whether the cost is linear.
//
//   Scaling/<Parse|Write>/<library>/<document>     library: brenvo, rapidjson (for reference)
//
//   twitter_x1, _x10, _x100          one array of 1, 10 and 100 copies of twitter.json's statuses
//   members_1, _1000, _100000        one object of that many distinct keys, in shuffled order
//   members_twice_1, _1000, _100000  the same keys, each given twice (the later value wins)
//
// Each reports its input size in the counter "input_bytes"; the summary divides by it.
#include "json_bench.h"

#include "brenvo/JSON/XKJsonParser.h"
#include "brenvo/JSON/XKJsonWriter.h"

#include <benchmark/benchmark.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <algorithm>
#include <functional>
#include <map>
#include <numeric>
#include <random>
#include <string>
#include <vector>

namespace brenvo::bench {
namespace {

// "[s1,...,sN,s1,...,sN,...]": `copies` times the statuses of twitter.json, written compactly.
std::string twitterStatuses(int copies) {
    const std::string& text = corpus("twitter");
    if (text.empty())
        return {};
    const nlohmann::json twitter = nlohmann::json::parse(text);
    std::string one;
    for (const auto& status : twitter.at("statuses")) {
        one += one.empty() ? "" : ",";
        one += status.dump();
    }
    std::string all = "[";
    for (int i = 0; i < copies; ++i) {
        all += i == 0 ? "" : ",";
        all += one;
    }
    return all + "]";
}

// {"k<i>":<i>,...} for i in 0..count-1, in an order fixed by a seeded shuffle so that putting the
// members in key order takes real work; `passes` times over, each pass with other values.
std::string members(int count, int passes) {
    std::vector<int> order(static_cast<size_t>(count));
    std::iota(order.begin(), order.end(), 0);
    std::shuffle(order.begin(), order.end(), std::mt19937(20260807));
    std::string text = "{";
    for (int pass = 0; pass < passes; ++pass) {
        for (int key : order) {
            text += text.size() == 1 ? "\"k" : ",\"k";
            text += std::to_string(key) + "\":" + std::to_string(pass * count + key);
        }
    }
    return text + "}";
}

struct Document {
    const char* name;
    std::function<std::string()> make;
};

const Document kDocuments[] = {
    {"twitter_x1", [] { return twitterStatuses(1); }},
    {"twitter_x10", [] { return twitterStatuses(10); }},
    {"twitter_x100", [] { return twitterStatuses(100); }},
    {"members_1", [] { return members(1, 1); }},
    {"members_1000", [] { return members(1'000, 1); }},
    {"members_100000", [] { return members(100'000, 1); }},
    {"members_twice_1", [] { return members(1, 2); }},
    {"members_twice_1000", [] { return members(1'000, 2); }},
    {"members_twice_100000", [] { return members(100'000, 2); }},
};

// Made on first use, so a run that filters these benchmarks out does not build them.
const std::string& text(const Document& document) {
    static std::map<std::string, std::string> texts;
    auto found = texts.find(document.name);
    if (found == texts.end())
        found = texts.emplace(document.name, document.make()).first;
    return found->second;
}

void reportSize(benchmark::State& state, const std::string& input) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(input.size()));
    state.counters[kInputBytes] = static_cast<double>(input.size());
}

// brenvo's parse and write, and RapidJSON's as a reference for what the machine's caches and
// memory do to time per byte as documents grow.

void parseBrenvo(benchmark::State& state, const Document& document) {
    const std::string& input = text(document);
    XKJsonParser parser;
    for (auto _ : state) {
        auto value = parser.fragmentWithString(input);
        if (!value) {
            state.SkipWithError("parse failed");
            return;
        }
        benchmark::DoNotOptimize(value);
        benchmark::ClobberMemory();
    }
    reportSize(state, input);
}

void writeBrenvo(benchmark::State& state, const Document& document) {
    const std::string& input = text(document);
    const auto value = XKJsonParser().fragmentWithString(input);
    if (!value) {
        state.SkipWithError("parse failed");
        return;
    }
    XKJsonWriter writer;
    for (auto _ : state) {
        auto out = writer.utf8StringWithFragment(*value);
        if (!out) {
            state.SkipWithError("write failed");
            return;
        }
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    reportSize(state, input);
}

void parseRapidjson(benchmark::State& state, const Document& document) {
    const std::string& input = text(document);
    for (auto _ : state) {
        rapidjson::Document value;
        value.Parse(input.c_str(), input.size());
        if (value.HasParseError()) {
            state.SkipWithError("parse failed");
            return;
        }
        benchmark::DoNotOptimize(value);
        benchmark::ClobberMemory();
    }
    reportSize(state, input);
}

void writeRapidjson(benchmark::State& state, const Document& document) {
    const std::string& input = text(document);
    rapidjson::Document value;
    value.Parse(input.c_str(), input.size());
    if (value.HasParseError()) {
        state.SkipWithError("parse failed");
        return;
    }
    for (auto _ : state) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        value.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetString());
        benchmark::ClobberMemory();
    }
    reportSize(state, input);
}

struct Operation {
    const char* name; // "Parse/brenvo"
    void (*run)(benchmark::State&, const Document&);
};

const Operation kOperations[] = {
    {"Parse/brenvo", parseBrenvo},
    {"Write/brenvo", writeBrenvo},
    {"Parse/rapidjson", parseRapidjson},
    {"Write/rapidjson", writeRapidjson},
};

const bool registered = [] {
    for (const Operation& operation : kOperations) {
        for (const Document& document : kDocuments) {
            const std::string name = std::string("Scaling/") + operation.name + "/" + document.name;
            benchmark::RegisterBenchmark(name.c_str(), [&document, run = operation.run](
                                                           benchmark::State& state) {
                run(state, document);
            })->Unit(benchmark::kMicrosecond);
        }
    }
    return true;
}();

} // namespace
} // namespace brenvo::bench
