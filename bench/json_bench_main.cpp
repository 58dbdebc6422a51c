// json_bench's main: runs the benchmarks selected on the command line with the usual console
// output, then prints a summary of what ran:
// - per corpus and operation, MB/s of every library and brenvo's speed-up over each peer
//   (the peer's time over brenvo's, for the same document), with the targets met or not;
// - per corpus, the parsed document's heap bytes per input byte;
// - the scaling documents' time per input byte, size by size.
// With --benchmark_repetitions the medians are used.
#include "json_bench.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace brenvo::bench {
namespace {

// Throughput goals, as speed-ups of brenvo over a peer; corpus nullptr: every corpus.
struct SpeedTarget {
    const char* operation;
    const char* peer;
    const char* corpus;
    double atLeast;
};

const SpeedTarget kSpeedTargets[] = {
    {"Parse", "simdjson", nullptr, 0.5},        {"Parse", "rapidjson", nullptr, 2.0},
    {"Parse", "nlohmann", nullptr, 4.0},        {"Parse", "jsoncpp", nullptr, 4.0},
    {"Write", "rapidjson", nullptr, 2.5},       {"Write", "nlohmann", nullptr, 4.0},
    {"WritePretty", "rapidjson", nullptr, 1.0}, {"WritePretty", "nlohmann", nullptr, 4.0},
};

// Memory goal: brenvo's document takes no more heap than this peer's, on every corpus.
constexpr const char* kMemoryPeer = "boostjson";

// Scaling goal: brenvo's time per input byte of the largest document of a family, over that of
// the family's reference size (one copy of twitter's statuses, objects of 1,000 members: one
// member is all overhead), is no more than this peer's in the same run. Fresh pages and the
// caches cost every library alike, so the peer's own growth is the yardstick.
constexpr const char* kScalingPeer = "rapidjson";
const char* const kScalingReferences[] = {"x1", "1000"};

// Operations in the order their tables are printed; others follow in name order.
const char* const kOperationOrder[] = {"Parse", "Write", "WritePretty"};

// One benchmark's figures: its median when it was repeated.
struct Figure {
    double seconds = 0;        // per iteration
    double bytesPerSecond = 0; // 0 when not reported
    std::map<std::string, double> counters;
};

// Hands every run to the display reporter chosen by the flags and keeps a copy.
class CollectingReporter final : public benchmark::BenchmarkReporter {
public:
    explicit CollectingReporter(benchmark::BenchmarkReporter* display) : display_(display) {}

    bool ReportContext(const Context& context) override { return display_->ReportContext(context); }
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            auto& slot = runs_[run.run_name.function_name];
            if (run.run_type == Run::RT_Iteration)
                slot.iterations.push_back(run);
            else if (run.aggregate_name == "median")
                slot.median = run;
        }
        display_->ReportRuns(runs);
    }
    void Finalize() override { display_->Finalize(); }

    // Benchmark name -> figure.
    std::map<std::string, Figure> figures() const {
        std::map<std::string, Figure> out;
        for (const auto& [name, slot] : runs_) {
            if (slot.median) {
                out[name] = figureOf(*slot.median);
                continue;
            }
            if (slot.iterations.empty())
                continue;
            // Not repeated: its one run (the middle one, should several come without a median).
            std::vector<Run> sorted = slot.iterations;
            std::sort(sorted.begin(), sorted.end(),
                      [](const Run& a, const Run& b) { return seconds(a) < seconds(b); });
            out[name] = figureOf(sorted[sorted.size() / 2]);
        }
        return out;
    }

private:
    struct Slot {
        std::vector<Run> iterations;
        std::optional<Run> median;
    };

    // Seconds per iteration on the clock the benchmark's rates use: the thread's CPU time (steady
    // on a machine shared with other work) unless it asked for real or manual time.
    static double seconds(const Run& run) {
        const double time =
            run.run_name.time_type.empty() ? run.GetAdjustedCPUTime() : run.GetAdjustedRealTime();
        return time / benchmark::GetTimeUnitMultiplier(run.time_unit);
    }

    static Figure figureOf(const Run& run) {
        Figure figure;
        figure.seconds = seconds(run);
        for (const auto& [name, counter] : run.counters) {
            if (name == "bytes_per_second")
                figure.bytesPerSecond = counter.value;
            else
                figure.counters[name] = counter.value;
        }
        return figure;
    }

    benchmark::BenchmarkReporter* display_;
    std::map<std::string, Slot> runs_;
};

// "Parse/brenvo/canada" -> {"Parse", "brenvo", "canada"}.
std::vector<std::string> split(const std::string& name) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t slash; (slash = name.find('/', start)) != std::string::npos; start = slash + 1)
        parts.push_back(name.substr(start, slash - start));
    parts.push_back(name.substr(start));
    return parts;
}

// Results of one operation on one corpus: library -> figure, brenvo first, then by name.
using Table = std::vector<std::pair<std::string, Figure>>;

class Summary {
public:
    Summary(const std::map<std::string, Figure>& figures, FILE* out) : out_(out) {
        for (const auto& [name, figure] : figures) {
            const auto parts = split(name);
            if (parts.size() == 4 && parts[0] == "Scaling")
                scaling_[parts[1] + " " + parts[2]].push_back({parts[3], figure});
            else if (parts.size() == 3)
                tables_[parts[2]][parts[0]].push_back({parts[1], figure});
        }
        for (auto& [corpusName, operations] : tables_)
            for (auto& [operation, table] : operations)
                std::stable_partition(table.begin(), table.end(),
                                      [](const auto& row) { return row.first == kSubject; });
    }

    void print() {
        if (tables_.empty() && scaling_.empty())
            return;
        std::fprintf(out_, "\n===== Summary (MB = 10^6 bytes; times are CPU times; speed-up = "
                           "peer's time / brenvo's, same document) =====\n");
        for (const auto& [corpusName, operations] : orderedCorpora()) {
            std::fprintf(out_, "\n%s.json (%zu bytes)\n", corpusName.c_str(),
                         corpus(corpusName).size());
            for (const std::string& operation : orderedOperations(*operations))
                printThroughput(corpusName, operation, operations->at(operation));
            if (auto memory = operations->find("Memory"); memory != operations->end())
                printMemory(corpusName, memory->second);
        }
        printScaling();
        printVerdicts();
    }

private:
    std::vector<std::pair<std::string, const std::map<std::string, Table>*>>
    orderedCorpora() const {
        std::vector<std::pair<std::string, const std::map<std::string, Table>*>> ordered;
        for (const char* name : kCorpora)
            if (auto found = tables_.find(name); found != tables_.end())
                ordered.push_back({found->first, &found->second});
        for (const auto& [name, operations] : tables_)
            if (std::find(std::begin(kCorpora), std::end(kCorpora), name) == std::end(kCorpora))
                ordered.push_back({name, &operations});
        return ordered;
    }

    static std::vector<std::string> orderedOperations(const std::map<std::string, Table>& ops) {
        std::vector<std::string> ordered;
        for (const char* name : kOperationOrder)
            if (ops.contains(name))
                ordered.push_back(name);
        for (const auto& [name, table] : ops)
            if (name != "Memory" &&
                std::find(ordered.begin(), ordered.end(), name) == ordered.end())
                ordered.push_back(name);
        return ordered;
    }

    static const Figure* find(const Table& table, std::string_view library) {
        for (const auto& [name, figure] : table)
            if (name == library)
                return &figure;
        return nullptr;
    }

    static std::optional<double> speedTarget(const std::string& operation, const std::string& peer,
                                             const std::string& corpusName) {
        for (const SpeedTarget& target : kSpeedTargets)
            if (operation == target.operation && peer == target.peer &&
                (!target.corpus || corpusName == target.corpus))
                return target.atLeast;
        return std::nullopt;
    }

    void verdict(std::string what, bool met) { verdicts_.push_back({std::move(what), met}); }

    void printThroughput(const std::string& corpusName, const std::string& operation,
                         const Table& table) {
        std::fprintf(out_, "  %-12s %-14s %9s %10s %9s  %s\n", operation.c_str(), "library", "MB/s",
                     "CPU ms", "speed-up", "target");
        const Figure* subject = find(table, kSubject);
        for (const auto& [library, figure] : table) {
            std::fprintf(out_, "  %-12s %-14s %9.1f %10.3f", "", library.c_str(),
                         figure.bytesPerSecond / 1e6, figure.seconds * 1e3);
            if (subject && library != kSubject) {
                const double speedUp = figure.seconds / subject->seconds;
                std::fprintf(out_, " %8.2fx", speedUp);
                if (auto atLeast = speedTarget(operation, library, corpusName)) {
                    const bool met = speedUp >= *atLeast;
                    std::fprintf(out_, "  >= %.1fx %s", *atLeast, met ? "met" : "NOT MET");
                    char what[160];
                    std::snprintf(what, sizeof what, "%s %s: %.2fx %s (>= %.1fx)",
                                  operation.c_str(), corpusName.c_str(), speedUp, library.c_str(),
                                  *atLeast);
                    verdict(what, met);
                }
            }
            std::fprintf(out_, "\n");
        }
    }

    void printMemory(const std::string& corpusName, const Table& table) {
        std::fprintf(out_, "  %-12s %-14s %9s %10s\n", "Memory", "library", "heap/byte",
                     "vs brenvo");
        const Figure* subject = find(table, kSubject);
        const auto perByte = [](const Figure& figure) {
            auto found = figure.counters.find(kBytesPerInputByte);
            return found == figure.counters.end() ? 0.0 : found->second;
        };
        if (subject && perByte(*subject) == 0)
            std::fprintf(out_, "  %-12s (the allocator gives no figures, as under a sanitizer)\n",
                         "");
        for (const auto& [library, figure] : table) {
            std::fprintf(out_, "  %-12s %-14s %9.2f", "", library.c_str(), perByte(figure));
            if (subject && library != kSubject && perByte(*subject) > 0) {
                std::fprintf(out_, " %9.2fx", perByte(figure) / perByte(*subject));
                if (library == kMemoryPeer) {
                    const bool met = perByte(*subject) <= perByte(figure);
                    std::fprintf(out_, "  brenvo <= %s %s", kMemoryPeer, met ? "met" : "NOT MET");
                    char what[160];
                    std::snprintf(what, sizeof what, "Memory %s: %.2f vs %s %.2f bytes per byte",
                                  corpusName.c_str(), perByte(*subject), kMemoryPeer,
                                  perByte(figure));
                    verdict(what, met);
                }
            }
            std::fprintf(out_, "\n");
        }
    }

    // Each family's sizes of one operation: (input bytes, ns per byte, size name), smallest
    // first.
    using Sizes = std::vector<std::tuple<double, double, std::string>>;
    std::map<std::string, Sizes> familiesOf(const Table& documents) const {
        std::map<std::string, Sizes> families;
        for (const auto& [document, figure] : documents) {
            const auto bytes = figure.counters.find(kInputBytes);
            if (bytes == figure.counters.end() || bytes->second <= 0)
                continue;
            const size_t cut = document.rfind('_');
            families[document.substr(0, cut)].push_back(
                {bytes->second, figure.seconds * 1e9 / bytes->second, document.substr(cut + 1)});
        }
        for (auto& [family, sizes] : families)
            std::sort(sizes.begin(), sizes.end());
        return families;
    }

    // The time per byte of the family's largest size over its reference size's, with that
    // reference's name; none when the operation, the family or the reference was not measured.
    std::optional<std::pair<double, std::string>> growthOf(const std::string& operation,
                                                           const std::string& family) const {
        const auto documents = scaling_.find(operation);
        if (documents == scaling_.end())
            return std::nullopt;
        const auto families = familiesOf(documents->second);
        const auto sizes = families.find(family);
        if (sizes == families.end() || sizes->second.size() < 2)
            return std::nullopt;
        const auto reference =
            std::find_if(sizes->second.begin(), sizes->second.end(), [](const auto& entry) {
                return std::find(std::begin(kScalingReferences), std::end(kScalingReferences),
                                 std::string_view(std::get<2>(entry))) !=
                       std::end(kScalingReferences);
            });
        if (reference == sizes->second.end())
            return std::nullopt;
        return std::pair{std::get<1>(sizes->second.back()) / std::get<1>(*reference),
                         std::get<2>(*reference)};
    }

    // One line per operation, library and document family ("twitter", "members"): ns per input byte
    // for each size, smallest first, and the largest size's figure over the smallest's.
    void printScaling() {
        if (scaling_.empty())
            return;
        std::fprintf(out_,
                     "\nScaling (ns per input byte; linear cost keeps the last column near 1)\n");
        for (const auto& [operation, documents] : scaling_) {
            for (const auto& [family, sizes] : familiesOf(documents)) {
                std::fprintf(out_, "  %-16s %-14s", operation.c_str(), family.c_str());
                for (const auto& [bytes, nsPerByte, size] : sizes)
                    std::fprintf(out_, " %8s %6.2f", size.c_str(), nsPerByte);
                if (sizes.size() > 1) {
                    const double ratio = std::get<1>(sizes.back()) / std::get<1>(sizes.front());
                    std::fprintf(out_, "   largest/smallest %.2f", ratio);
                    const auto growth = growthOf(operation, family);
                    const std::string peerOperation =
                        operation.substr(0, operation.find(' ') + 1) + kScalingPeer;
                    const auto peerGrowth = growthOf(peerOperation, family);
                    if (operation.find(kSubject) != std::string::npos && growth && peerGrowth) {
                        const bool met = growth->first <= peerGrowth->first;
                        std::fprintf(out_, "  largest/%s %.2f <= %s's %.2f %s",
                                     growth->second.c_str(), growth->first, kScalingPeer,
                                     peerGrowth->first, met ? "met" : "NOT MET");
                        char what[160];
                        std::snprintf(what, sizeof what, "Scaling %s %s: %.2f (<= %s's %.2f)",
                                      operation.c_str(), family.c_str(), growth->first,
                                      kScalingPeer, peerGrowth->first);
                        verdict(what, met);
                    }
                }
                std::fprintf(out_, "\n");
            }
        }
    }

    void printVerdicts() {
        if (verdicts_.empty())
            return;
        const auto met = std::count_if(verdicts_.begin(), verdicts_.end(),
                                       [](const auto& entry) { return entry.second; });
        std::fprintf(out_, "\nTargets met: %td of %zu measured\n", met, verdicts_.size());
        for (const auto& [what, isMet] : verdicts_)
            if (!isMet)
                std::fprintf(out_, "  not met: %s\n", what.c_str());
    }

    FILE* out_;
    // corpus -> operation -> table
    std::map<std::string, std::map<std::string, Table>> tables_;
    // "Parse brenvo" -> (document, figure)
    std::map<std::string, Table> scaling_;
    std::vector<std::pair<std::string, bool>> verdicts_;
};

} // namespace
} // namespace brenvo::bench

int main(int argc, char** argv) {
    if (argc == 4 && std::string_view(argv[1]) == "--memory-probe")
        return brenvo::bench::memoryProbe(argv[2], argv[3]);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::BenchmarkReporter* display = benchmark::CreateDefaultDisplayReporter();
    brenvo::bench::CollectingReporter collector(display);
    benchmark::RunSpecifiedBenchmarks(&collector);
    // Machine-readable output (--benchmark_format=json or csv) stays clean on stdout.
    FILE* out = dynamic_cast<benchmark::ConsoleReporter*>(display) ? stdout : stderr;
    std::fflush(stdout);
    brenvo::bench::Summary(collector.figures(), out).print();
    benchmark::Shutdown();
    return 0;
}
