// Write throughput: each library serialises a document it parsed beforehand, outside the timed
// loop, so only the writing is measured.
//
//   Write/<library>/<corpus>         compact text
//   WritePretty/<library>/<corpus>   human-readable text, each library's own layout: brenvo two
//                                    spaces and " : ", rapidjson PrettyWriter and nlohmann
//                                    dump(2) and jsoncpp with two spaces (boostjson has no
//                                    human-readable writer)
//   WriteUtf16/brenvo/<corpus>       brenvo's native UTF-16 text (2 bytes per unit)
//
// The counter is bytes of the library's own output per second. Outputs differ in size (the
// human-readable layouts above, escapes of "/" or of non-ASCII text), so the fair comparison
// is the ratio of times for the same document, which the summary reports as the speed-up.
#include "json_bench.h"

#include "brenvo/JSON/XKJsonParser.h"
#include "brenvo/JSON/XKJsonWriter.h"

#include <benchmark/benchmark.h>
#include <boost/json.hpp>
#include <json/json.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <cstdio>
#include <memory>
#include <string>

namespace brenvo::bench {
namespace {

template <class Write> void runWrite(benchmark::State& state, Write&& write) {
    std::size_t bytes = 0;
    for (auto _ : state) {
        bytes = write();
        if (bytes == 0) {
            state.SkipWithError("write failed");
            return;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
}

void writeBrenvo(benchmark::State& state, const std::string& text, bool pretty, bool utf16) {
    XKJsonParser parser;
    const auto value = parser.fragmentWithString(text);
    if (!value) {
        state.SkipWithError("corpus did not parse");
        return;
    }
    XKJsonWriter writer;
    writer.setHumanReadable(pretty);
    runWrite(state, [&]() -> std::size_t {
        if (utf16) {
            auto out = writer.stringWithFragment(*value);
            benchmark::DoNotOptimize(out);
            return out ? out->size() * sizeof(char16_t) : 0;
        }
        auto out = writer.utf8StringWithFragment(*value);
        benchmark::DoNotOptimize(out);
        return out ? out->size() : 0;
    });
}

void writeRapidjson(benchmark::State& state, const std::string& text, bool pretty) {
    rapidjson::Document document;
    document.Parse(text.c_str(), text.size());
    runWrite(state, [&] {
        rapidjson::StringBuffer buffer;
        if (pretty) {
            rapidjson::PrettyWriter<rapidjson::StringBuffer> writer(buffer);
            writer.SetIndent(' ', 2);
            document.Accept(writer);
        } else {
            rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
            document.Accept(writer);
        }
        benchmark::DoNotOptimize(buffer.GetString());
        return buffer.GetSize();
    });
}

void writeNlohmann(benchmark::State& state, const std::string& text, bool pretty) {
    const auto document = nlohmann::json::parse(text);
    runWrite(state, [&] {
        auto out = pretty ? document.dump(2) : document.dump();
        benchmark::DoNotOptimize(out);
        return out.size();
    });
}

void writeJsoncpp(benchmark::State& state, const std::string& text, bool pretty) {
    Json::Value document;
    Json::CharReaderBuilder readerBuilder;
    std::unique_ptr<Json::CharReader> reader(readerBuilder.newCharReader());
    std::string errors;
    reader->parse(text.data(), text.data() + text.size(), &document, &errors);
    Json::StreamWriterBuilder writerBuilder;
    writerBuilder["indentation"] = pretty ? "  " : "";
    runWrite(state, [&] {
        auto out = Json::writeString(writerBuilder, document);
        benchmark::DoNotOptimize(out);
        return out.size();
    });
}

void writeBoostjson(benchmark::State& state, const std::string& text, bool /*pretty*/) {
    const auto document = boost::json::parse(text);
    runWrite(state, [&] {
        auto out = boost::json::serialize(document);
        benchmark::DoNotOptimize(out);
        return out.size();
    });
}

using PeerWriter = void (*)(benchmark::State&, const std::string&, bool);

struct Peer {
    const char* name;
    PeerWriter write;
    bool hasPretty;
};

const Peer kPeers[] = {
    {"rapidjson", writeRapidjson, true},
    {"nlohmann", writeNlohmann, true},
    {"jsoncpp", writeJsoncpp, true},
    {"boostjson", writeBoostjson, false},
};

// Registered from a static initialiser so the corpora are read once, before main runs.
const bool registered = [] {
    for (const char* name : kCorpora) {
        const std::string& text = corpus(name);
        if (text.empty()) {
            std::fprintf(stderr, "json_bench: corpus %s not found, its write benchmarks skipped\n",
                         name);
            continue;
        }
        for (const bool pretty : {false, true}) {
            const std::string operation = pretty ? "WritePretty/" : "Write/";
            const std::string suffix = std::string("/") + name;
            benchmark::RegisterBenchmark(
                (operation + kSubject + suffix).c_str(),
                [&text, pretty](benchmark::State& s) { writeBrenvo(s, text, pretty, false); });
            for (const Peer& peer : kPeers) {
                if (pretty && !peer.hasPretty)
                    continue;
                benchmark::RegisterBenchmark((operation + peer.name + suffix).c_str(),
                                             [&text, pretty, write = peer.write](
                                                 benchmark::State& s) { write(s, text, pretty); });
            }
        }
        benchmark::RegisterBenchmark(
            (std::string("WriteUtf16/") + kSubject + "/" + name).c_str(),
            [&text](benchmark::State& s) { writeBrenvo(s, text, false, true); });
    }
    return true;
}();

} // namespace
} // namespace brenvo::bench
