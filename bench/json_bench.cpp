// Parse throughput and the parsed document's memory, for brenvo and each peer library.
//
//   Parse/<library>/<corpus>    builds the library's full document from the corpus text on every
//                               iteration (and releases it); counts input bytes per second.
//   Memory/<library>/<corpus>   heap bytes held by the parsed document per input byte (counter
//                               "heap_per_byte"), from glibc's mallinfo2() with the document
//                               alive, so pools and arenas of every library count alike.
//
//   library: brenvo rapidjson nlohmann jsoncpp boostjson
//   corpus:  canada citm_catalog twitter
#include "json_bench.h"

#include "brenvo/JSON/XKJsonParser.h"

#include <benchmark/benchmark.h>
#include <boost/json.hpp>
#include <json/json.h>
#include <nlohmann/json.hpp>
#include <rapidjson/document.h>

#include <malloc.h>

#include <cstddef>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>

namespace brenvo::bench {

const std::string& corpus(const std::string& name) {
    static std::map<std::string, std::string> texts;
    auto found = texts.find(name);
    if (found == texts.end()) {
        std::ifstream in(std::string(BRENVO_BENCH_DATA_DIR) + "/" + name + ".json",
                         std::ios::binary);
        found = texts.emplace(name, std::string(std::istreambuf_iterator<char>(in), {})).first;
    }
    return found->second;
}

namespace {

// Each library: parse(text, use) builds the full document from `text`, calls use(document)
// while it is alive, then releases it; false when the text did not parse. State a caller would
// keep between documents (a parser, a reader) lives in the object.

struct BrenvoLibrary {
    XKJsonParser parser;
    template <class Use> bool parse(const std::string& text, Use&& use) {
        std::optional<JsonValue> document = parser.fragmentWithString(text);
        if (!document)
            return false;
        use(*document);
        return true;
    }
};

struct RapidjsonLibrary {
    template <class Use> bool parse(const std::string& text, Use&& use) {
        rapidjson::Document document;
        document.Parse(text.c_str(), text.size());
        if (document.HasParseError())
            return false;
        use(document);
        return true;
    }
};

struct NlohmannLibrary {
    template <class Use> bool parse(const std::string& text, Use&& use) {
        nlohmann::json document = nlohmann::json::parse(text, nullptr, false);
        if (document.is_discarded())
            return false;
        use(document);
        return true;
    }
};

struct JsoncppLibrary {
    std::unique_ptr<Json::CharReader> reader{Json::CharReaderBuilder().newCharReader()};
    template <class Use> bool parse(const std::string& text, Use&& use) {
        Json::Value document;
        std::string errors;
        if (!reader->parse(text.data(), text.data() + text.size(), &document, &errors))
            return false;
        use(document);
        return true;
    }
};

struct BoostjsonLibrary {
    template <class Use> bool parse(const std::string& text, Use&& use) {
        boost::json::error_code error;
        boost::json::value document = boost::json::parse(text, error);
        if (error)
            return false;
        use(document);
        return true;
    }
};

template <class Library> void parseThroughput(benchmark::State& state, const std::string& text) {
    Library library;
    for (auto _ : state) {
        if (!library.parse(text, [](auto& document) { benchmark::DoNotOptimize(document); })) {
            state.SkipWithError("parse failed");
            return;
        }
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                            static_cast<int64_t>(text.size()));
}

// Bytes the allocator has handed out and not had back: small chunks from the arenas plus the
// large ones it maps one by one.
size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

template <class Library> void documentMemory(benchmark::State& state, const std::string& text) {
    Library library;
    // One parse first, so state kept between documents (buffers a parser reuses) is not counted.
    if (!library.parse(text, [](auto&) {})) {
        state.SkipWithError("parse failed");
        return;
    }
    double held = 0;
    for (auto _ : state) {
        const size_t before = heapInUse();
        size_t alive = before;
        library.parse(text, [&](auto&) { alive = heapInUse(); });
        // Signed: a document can reuse chunks freed before `before` and read as (near) nothing.
        held += static_cast<double>(static_cast<ptrdiff_t>(alive - before));
    }
    state.counters[kBytesPerInputByte] = benchmark::Counter(held / static_cast<double>(text.size()),
                                                            benchmark::Counter::kAvgIterations);
}

using Runner = void (*)(benchmark::State&, const std::string&);

struct LibraryEntry {
    const char* name;
    Runner parse;
    Runner memory;
};

template <class Library> constexpr LibraryEntry entry(const char* name) {
    return {name, parseThroughput<Library>, documentMemory<Library>};
}

const LibraryEntry kLibraries[] = {
    entry<BrenvoLibrary>(kSubject),       entry<RapidjsonLibrary>("rapidjson"),
    entry<NlohmannLibrary>("nlohmann"),   entry<JsoncppLibrary>("jsoncpp"),
    entry<BoostjsonLibrary>("boostjson"),
};

// Registered from a static initialiser so the corpora are read once, before main runs.
const bool registered = [] {
    for (const char* name : kCorpora) {
        const std::string& text = corpus(name);
        if (text.empty()) {
            std::fprintf(stderr, "json_bench: corpus %s not found, its parse benchmarks skipped\n",
                         name);
            continue;
        }
        for (const LibraryEntry& library : kLibraries) {
            const std::string suffix = std::string("/") + library.name + "/" + name;
            benchmark::RegisterBenchmark(
                ("Parse" + suffix).c_str(),
                [&text, run = library.parse](benchmark::State& state) { run(state, text); });
        }
    }
    // After every Parse/* benchmark, so the throughput lines come first.
    for (const char* name : kCorpora) {
        const std::string& text = corpus(name);
        if (text.empty())
            continue;
        for (const LibraryEntry& library : kLibraries) {
            const std::string suffix = std::string("/") + library.name + "/" + name;
            benchmark::RegisterBenchmark(("Memory" + suffix).c_str(), [&text, run = library.memory](
                                                                          benchmark::State& state) {
                run(state, text);
            })->Iterations(3);
        }
    }
    return true;
}();

} // namespace
} // namespace brenvo::bench
