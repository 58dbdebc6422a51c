// Parse throughput and the parsed document's memory, for brenvo and each peer library.
//
//   Parse/<library>/<corpus>    builds the library's full document from the corpus text on every
//                               iteration (and releases it); counts input bytes per second.
//   Memory/<library>/<corpus>   heap bytes held by the parsed document per input byte (counter
//                               "heap_per_byte"), from glibc's mallinfo2() with the document
//                               alive, so pools and arenas of every library count alike. Each
//                               iteration measures one document in a fresh process.
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
#include <simdjson.h>

#include <malloc.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

extern char** environ;

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

// simdjson's DOM parser, reused across documents as its documentation recommends.
struct SimdjsonLibrary {
    simdjson::dom::parser parser;
    template <class Use> bool parse(const std::string& text, Use&& use) {
        simdjson::dom::element document;
        if (parser.parse(text).get(document) != simdjson::SUCCESS)
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

// Heap bytes of one parsed document per input byte, or nullopt when the text does not parse.
// Exact only without glibc's per-thread cache, whose chunks count as in use: see memoryProbe.
template <class Library> std::optional<double> documentHeap(const std::string& text) {
    Library library;
    // The document measured is the second one, so state kept between documents (buffers a
    // parser reuses) is not counted. The first stays alive meanwhile: storage a parser holds on
    // to for reuse once a document is gone must not pass for free.
    std::optional<double> perByte;
    library.parse(text, [&](auto&) {
        const size_t before = heapInUse();
        size_t alive = before;
        if (library.parse(text, [&](auto&) { alive = heapInUse(); }))
            perByte = static_cast<double>(static_cast<ptrdiff_t>(alive - before)) /
                      static_cast<double>(text.size());
    });
    return perByte;
}

// Runs this executable again as `--memory-probe <library> <corpus>` with glibc's per-thread
// cache off, in a fresh heap, and reads the figure it prints.
std::optional<double> probeInFreshProcess(const std::string& library, const std::string& name) {
    static const std::string self = std::filesystem::read_symlink("/proc/self/exe").string();
    std::vector<std::string> environment;
    std::string tunables = "GLIBC_TUNABLES=glibc.malloc.tcache_count=0";
    for (char** entry = environ; *entry; ++entry) {
        if (std::string_view(*entry).starts_with("GLIBC_TUNABLES="))
            tunables = std::string(*entry) + ":glibc.malloc.tcache_count=0";
        else
            environment.emplace_back(*entry);
    }
    environment.push_back(tunables);
    std::vector<char*> envp;
    for (std::string& entry : environment)
        envp.push_back(entry.data());
    envp.push_back(nullptr);
    std::string probe = "--memory-probe", libraryArg = library, corpusArg = name;
    std::string program = self;
    char* argv[] = {program.data(), probe.data(), libraryArg.data(), corpusArg.data(), nullptr};

    int pipeFds[2];
    if (pipe(pipeFds) != 0)
        return std::nullopt;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, pipeFds[0]);
    posix_spawn_file_actions_addclose(&actions, pipeFds[1]);
    pid_t child = 0;
    const int spawned = posix_spawn(&child, self.c_str(), &actions, nullptr, argv, envp.data());
    posix_spawn_file_actions_destroy(&actions);
    close(pipeFds[1]);
    std::string output;
    char buffer[256];
    for (ssize_t got; spawned == 0 && (got = read(pipeFds[0], buffer, sizeof buffer)) != 0;) {
        if (got > 0)
            output.append(buffer, static_cast<size_t>(got));
        else if (errno != EINTR)
            break;
    }
    close(pipeFds[0]);
    int status = 0;
    if (spawned != 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status) ||
        WEXITSTATUS(status) != 0 || output.empty())
        return std::nullopt;
    return std::strtod(output.c_str(), nullptr);
}

void documentMemory(benchmark::State& state, const std::string& library, const std::string& name) {
    double sum = 0;
    for (auto _ : state) {
        const auto perByte = probeInFreshProcess(library, name);
        if (!perByte) {
            state.SkipWithError("the memory probe failed");
            return;
        }
        sum += *perByte;
    }
    state.counters[kBytesPerInputByte] =
        benchmark::Counter(sum, benchmark::Counter::kAvgIterations);
}

using Runner = void (*)(benchmark::State&, const std::string&);

struct LibraryEntry {
    const char* name;
    Runner parse;
    std::optional<double> (*heap)(const std::string&);
};

template <class Library> constexpr LibraryEntry entry(const char* name) {
    return {name, parseThroughput<Library>, documentHeap<Library>};
}

// A library whose parsed document lives in buffers its parser keeps and reuses, so the heap a
// document holds cannot be told apart: no memory figure.
template <class Library> constexpr LibraryEntry entryWithoutMemory(const char* name) {
    return {name, parseThroughput<Library>, nullptr};
}

const LibraryEntry kLibraries[] = {
    entry<BrenvoLibrary>(kSubject),       entryWithoutMemory<SimdjsonLibrary>("simdjson"),
    entry<RapidjsonLibrary>("rapidjson"), entry<NlohmannLibrary>("nlohmann"),
    entry<JsoncppLibrary>("jsoncpp"),     entry<BoostjsonLibrary>("boostjson"),
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
            if (!library.heap)
                continue;
            const std::string suffix = std::string("/") + library.name + "/" + name;
            benchmark::RegisterBenchmark(("Memory" + suffix).c_str(),
                                         [libraryName = std::string(library.name),
                                          corpusName = std::string(name)](benchmark::State& state) {
                                             documentMemory(state, libraryName, corpusName);
                                         })
                // The work happens in another process: wall time decides the iterations.
                ->UseRealTime();
        }
    }
    return true;
}();

} // namespace

int memoryProbe(std::string_view library, std::string_view name) {
    const std::string& text = corpus(std::string(name));
    for (const LibraryEntry& entry : kLibraries) {
        if (entry.name != library || !entry.heap)
            continue;
        const auto perByte = text.empty() ? std::nullopt : entry.heap(text);
        if (!perByte)
            return 1;
        std::printf("%.6f\n", *perByte);
        return 0;
    }
    return 1;
}

} // namespace brenvo::bench
