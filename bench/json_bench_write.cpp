// Write throughput: each library serialises a document it parsed beforehand, outside the timed
// loop, so only the writing is measured. The counter is bytes of output per second.
//
//   Write/<library>/<corpus>        compact text
//   WritePretty/brenvo/<corpus>     human-readable text
//   Write/brenvo-utf16/<corpus>     the writer's native UTF-16 text (bytes = 2 per unit)
#include "brenvo/JSON/XKJsonParser.h"
#include "brenvo/JSON/XKJsonWriter.h"

#include <benchmark/benchmark.h>
#include <boost/json.hpp>
#include <json/json.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <memory>
#include <sstream>
#include <string>

namespace {

const char* const kCorpora[] = {"canada", "citm_catalog", "twitter"};

std::string readCorpus(const std::string& name) {
    std::ifstream in(std::string(BRENVO_BENCH_DATA_DIR) + "/" + name + ".json", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

template <class Write> void runWrite(benchmark::State& state, Write&& write) {
    size_t bytes = 0;
    for (auto _ : state) {
        bytes = write();
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}

void writeBrenvo(benchmark::State& state, const std::string& text, bool pretty) {
    brenvo::XKJsonParser parser;
    const auto value = parser.objectWithString(text);
    if (!value) {
        state.SkipWithError("corpus did not parse");
        return;
    }
    brenvo::XKJsonWriter writer;
    writer.setHumanReadable(pretty);
    runWrite(state, [&] {
        auto out = writer.utf8StringWithFragment(*value);
        benchmark::DoNotOptimize(out);
        return out ? out->size() : 0;
    });
}

void writeBrenvoUtf16(benchmark::State& state, const std::string& text) {
    brenvo::XKJsonParser parser;
    const auto value = parser.objectWithString(text);
    if (!value) {
        state.SkipWithError("corpus did not parse");
        return;
    }
    brenvo::XKJsonWriter writer;
    runWrite(state, [&] {
        auto out = writer.stringWithFragment(*value);
        benchmark::DoNotOptimize(out);
        return out ? out->size() * sizeof(char16_t) : 0;
    });
}

void writeRapidjson(benchmark::State& state, const std::string& text) {
    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    runWrite(state, [&] {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
        document.Accept(writer);
        benchmark::DoNotOptimize(buffer.GetString());
        return buffer.GetSize();
    });
}

void writeNlohmann(benchmark::State& state, const std::string& text) {
    const auto document = nlohmann::json::parse(text);
    runWrite(state, [&] {
        auto out = document.dump();
        benchmark::DoNotOptimize(out);
        return out.size();
    });
}

void writeJsoncpp(benchmark::State& state, const std::string& text) {
    Json::Value document;
    Json::CharReaderBuilder readerBuilder;
    std::unique_ptr<Json::CharReader> reader(readerBuilder.newCharReader());
    std::string errors;
    reader->parse(text.data(), text.data() + text.size(), &document, &errors);
    Json::StreamWriterBuilder writerBuilder;
    writerBuilder["indentation"] = "";
    runWrite(state, [&] {
        auto out = Json::writeString(writerBuilder, document);
        benchmark::DoNotOptimize(out);
        return out.size();
    });
}

void writeBoostjson(benchmark::State& state, const std::string& text) {
    const auto document = boost::json::parse(text);
    runWrite(state, [&] {
        auto out = boost::json::serialize(document);
        benchmark::DoNotOptimize(out);
        return out.size();
    });
}

// Registered from a static initialiser so the corpora are read once, before main runs.
const bool registered = [] {
    for (const char* corpus : kCorpora) {
        const auto text = std::make_shared<const std::string>(readCorpus(corpus));
        if (text->empty()) {
            std::fprintf(stderr, "json_bench: corpus %s not found, its write benchmarks skipped\n",
                         corpus);
            continue;
        }
        const std::string suffix = std::string("/") + corpus;
        benchmark::RegisterBenchmark(("Write/brenvo" + suffix).c_str(),
                                     [text](benchmark::State& s) { writeBrenvo(s, *text, false); });
        benchmark::RegisterBenchmark(("Write/brenvo-utf16" + suffix).c_str(),
                                     [text](benchmark::State& s) { writeBrenvoUtf16(s, *text); });
        benchmark::RegisterBenchmark(("WritePretty/brenvo" + suffix).c_str(),
                                     [text](benchmark::State& s) { writeBrenvo(s, *text, true); });
        benchmark::RegisterBenchmark(("Write/rapidjson" + suffix).c_str(),
                                     [text](benchmark::State& s) { writeRapidjson(s, *text); });
        benchmark::RegisterBenchmark(("Write/nlohmann" + suffix).c_str(),
                                     [text](benchmark::State& s) { writeNlohmann(s, *text); });
        benchmark::RegisterBenchmark(("Write/jsoncpp" + suffix).c_str(),
                                     [text](benchmark::State& s) { writeJsoncpp(s, *text); });
        benchmark::RegisterBenchmark(("Write/boostjson" + suffix).c_str(),
                                     [text](benchmark::State& s) { writeBoostjson(s, *text); });
    }
    return true;
}();

} // namespace
