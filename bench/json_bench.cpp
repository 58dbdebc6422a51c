// Parse throughput: each library builds its full document from the text of a corpus file on
// every iteration (and releases it). The counter is input bytes per second.
//
//   Parse/<library>/<corpus>   library: brenvo rapidjson nlohmann jsoncpp boostjson
//                              corpus:  canada citm_catalog twitter
#include "brenvo/JSON/XKJsonParser.h"

#include <benchmark/benchmark.h>
#include <boost/json.hpp>
#include <json/json.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>

namespace {

const char* const kCorpora[] = {"canada", "citm_catalog", "twitter"};

std::string readCorpus(const std::string& name) {
    std::ifstream in(std::string(BRENVO_BENCH_DATA_DIR) + "/" + name + ".json", std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

template <class Parse>
void runParse(benchmark::State& state, const std::string& text, Parse&& parse) {
    for (auto _ : state) {
        if (!parse()) {
            state.SkipWithError("parse failed");
            break;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

void parseBrenvo(benchmark::State& state, const std::string& text) {
    brenvo::XKJsonParser parser;
    runParse(state, text, [&] {
        std::optional<brenvo::JsonValue> value = parser.fragmentWithString(text);
        benchmark::DoNotOptimize(value);
        return value.has_value();
    });
}

void parseRapidjson(benchmark::State& state, const std::string& text) {
    runParse(state, text, [&] {
        rapidjson::Document document;
        document.Parse(text.c_str(), text.size());
        benchmark::DoNotOptimize(document);
        return !document.HasParseError();
    });
}

void parseNlohmann(benchmark::State& state, const std::string& text) {
    runParse(state, text, [&] {
        nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
        benchmark::DoNotOptimize(document);
        return !document.is_discarded();
    });
}

void parseJsoncpp(benchmark::State& state, const std::string& text) {
    Json::CharReaderBuilder builder;
    std::unique_ptr<Json::CharReader> reader(builder.newCharReader());
    runParse(state, text, [&] {
        Json::Value document;
        std::string errors;
        const bool ok = reader->parse(text.data(), text.data() + text.size(), &document, &errors);
        benchmark::DoNotOptimize(document);
        return ok;
    });
}

void parseBoostjson(benchmark::State& state, const std::string& text) {
    runParse(state, text, [&] {
        boost::json::error_code error;
        boost::json::value document = boost::json::parse(text, error);
        benchmark::DoNotOptimize(document);
        return !error;
    });
}

// Registered from a static initialiser so the corpora are read once, before main runs.
const bool registered = [] {
    using Runner = void (*)(benchmark::State&, const std::string&);
    const std::pair<const char*, Runner> libraries[] = {
        {"brenvo", parseBrenvo},   {"rapidjson", parseRapidjson}, {"nlohmann", parseNlohmann},
        {"jsoncpp", parseJsoncpp}, {"boostjson", parseBoostjson},
    };
    for (const char* corpus : kCorpora) {
        const auto text = std::make_shared<const std::string>(readCorpus(corpus));
        if (text->empty()) {
            std::fprintf(stderr, "json_bench: corpus %s not found, its parse benchmarks skipped\n",
                         corpus);
            continue;
        }
        for (const auto& [library, run] : libraries) {
            const std::string name = std::string("Parse/") + library + "/" + corpus;
            benchmark::RegisterBenchmark(name.c_str(),
                                         [text, run = run](benchmark::State& s) { run(s, *text); });
        }
    }
    return true;
}();

} // namespace
