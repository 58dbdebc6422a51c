// xkjson: checks a JSON text with the strict parser and writes it back.
//
//   xkjson [--fragment] [--max-depth N] [--check] [--pretty] [--sort-keys] [FILE|-]...
//
// Exit status: 0 the text parsed (and was written back), 1 it did not (standard error gets where
// it failed, "FILE:LINE:COLUMN: message", then the error trace, one "code: message" line per
// record, oldest first), 2 usage or I/O error. Several files are taken in turn, each as if
// given alone, and the highest of their statuses is the exit status.
#include "brenvo/JSON/XKJsonParser.h"
#include "brenvo/JSON/XKJsonWriter.h"
#include "brenvo/utf/Printable.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#if defined(_WIN32)
#include <fcntl.h>
#include <io.h>
#endif

namespace {

constexpr const char* kUsage =
    "usage: xkjson [--fragment] [--max-depth N] [--check] [--pretty] [--sort-keys] [FILE|-]...\n";

constexpr const char* kHelp =
    "Parses a JSON text with the strict parser and writes it back.\n"
    "\n"
    "Reads each FILE as bytes, or standard input when FILE is missing or '-'. Several\n"
    "FILEs are taken in turn, each as if given alone; the highest of their exit\n"
    "statuses is the exit status.\n"
    "\n"
    "  --fragment      accept any JSON value; without it the text must be an object\n"
    "                  or an array\n"
    "  --max-depth N   nesting limit for arrays and objects (default 512, 0 = no limit\n"
    "                  of your own; the parser's hard limit still applies)\n"
    "  --check         only check: print nothing on success\n"
    "  --pretty        write the value back indented, one member per line\n"
    "  --sort-keys     write object members sorted by key\n"
    "  --help          show this text\n"
    "  --version       show the version\n"
    "\n"
    "On success the value is written back to standard output and the exit status is 0.\n"
    "On failure standard error gets where the text failed, as FILE:LINE:COLUMN and the\n"
    "first error's message, then the byte offset (\"in.json:2:7: Unrecognised leading\n"
    "character (byte 12)\"; lines and columns count from 1, columns in characters),\n"
    "then the error trace, one record per line, oldest first, as the code, a colon, a space\n"
    "and the message (\"3: Expected value while parsing array\"); the exit status is 1.\n"
    "Usage and I/O errors exit with status 2.\n";

struct Options {
    bool fragment = false;
    bool check = false;
    bool pretty = false;
    bool sortKeys = false;
    uint64_t maxDepth = brenvo::XKJsonBase::kDefaultMaxDepth;
};

int usageError(const std::string& message) {
    std::fprintf(stderr, "xkjson: %s\n%s", message.c_str(), kUsage);
    return 2;
}

std::optional<uint64_t> parseCount(std::string_view text) {
    if (text.empty() || text.size() > 20)
        return std::nullopt;
    uint64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9')
            return std::nullopt;
        const uint64_t digit = static_cast<uint64_t>(c - '0');
        if (value > (UINT64_MAX - digit) / 10)
            return std::nullopt;
        value = value * 10 + digit;
    }
    return value;
}

// Reads the whole file (or standard input for "-") as bytes.
bool readInput(const std::string& file, std::string& out) {
    FILE* in = file == "-" ? stdin : std::fopen(file.c_str(), "rb");
    if (!in) {
        std::fprintf(stderr, "xkjson: cannot open %s: %s\n", file.c_str(), std::strerror(errno));
        return false;
    }
    char buffer[65536];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        out.append(buffer, n);
    const bool failed = std::ferror(in) != 0;
    const int error = errno;
    if (in != stdin)
        std::fclose(in);
    if (failed) {
        std::fprintf(stderr, "xkjson: cannot read %s: %s\n",
                     file == "-" ? "standard input" : file.c_str(), std::strerror(error));
        return false;
    }
    return true;
}

// One record per line; a message holds text of the input (a key), so it is shown printable.
void printTrace(const brenvo::XKJsonBase& component) {
    if (const auto trace = component.errorTrace())
        for (const brenvo::JsonErrorRef& record : *trace)
            std::fprintf(stderr, "%u: %s\n", record->code(),
                         brenvo::utf::printable(record->message()).c_str());
}

// Says where the text failed: "FILE:LINE:COLUMN: message (byte OFFSET)", the first error's
// message; an empty input and a byte-order mark are named as such.
void printWhere(const std::string& file, std::string_view bytes,
                const brenvo::XKJsonParser& parser) {
    const std::string name = brenvo::utf::printable(file == "-" ? "<stdin>" : file);
    if (bytes.empty()) {
        std::fprintf(stderr, "%s: the input is empty\n", name.c_str());
        return;
    }
    if (bytes.starts_with("\xEF\xBB\xBF")) {
        std::fprintf(stderr,
                     "%s:1:1: the input begins with a byte-order mark, which JSON text "
                     "does not have\n",
                     name.c_str());
        return;
    }
    const std::optional<std::size_t> at = parser.errorPosition();
    const brenvo::JsonErrorTrace trace = parser.errorTrace();
    if (!at || !trace || trace->empty())
        return;
    std::size_t line = 1, column = 1;
    for (std::size_t i = 0; i < *at && i < bytes.size(); ++i) {
        if (bytes[i] == '\n') {
            ++line;
            column = 1;
        } else if ((static_cast<unsigned char>(bytes[i]) & 0xC0) != 0x80) {
            ++column; // a character starts here; continuation bytes belong to it
        }
    }
    const char* nul =
        *at < bytes.size() && bytes[*at] == '\0' ? ", a NUL byte, which ends the text" : "";
    std::fprintf(stderr, "%s:%zu:%zu: %s (byte %zu%s)\n", name.c_str(), line, column,
                 brenvo::utf::printable(trace->front()->message()).c_str(), *at, nul);
}

// Writes the parsed value back to standard output. Returns the exit status.
int printValue(const brenvo::JsonValue& value, const Options& options) {
    brenvo::XKJsonWriter writer;
    writer.setMaxDepth(options.maxDepth);
    writer.setHumanReadable(options.pretty);
    writer.setSortKeys(options.sortKeys);
    const std::optional<std::string> text = writer.utf8StringWithFragment(value);
    if (!text) {
        printTrace(writer);
        return 1;
    }
    std::fwrite(text->data(), 1, text->size(), stdout);
    std::fputc('\n', stdout);
    if (std::fflush(stdout) != 0) {
        std::fprintf(stderr, "xkjson: cannot write standard output: %s\n", std::strerror(errno));
        return 2;
    }
    return 0;
}

// Parses one input and writes it back. Returns its exit status.
int checkInput(const std::string& file, const Options& options) {
    std::string bytes;
    if (!readInput(file, bytes))
        return 2;

    brenvo::XKJsonParser parser;
    parser.setMaxDepth(options.maxDepth);
    const std::string_view text(bytes);
    const std::optional<brenvo::JsonValue> value =
        options.fragment ? parser.fragmentWithString(text) : parser.objectWithString(text);
    if (!value) {
        printWhere(file, bytes, parser);
        printTrace(parser);
        return 1;
    }
    if (options.check)
        return 0;
    return printValue(*value, options);
}

} // namespace

int main(int argc, char** argv) {
#if defined(_WIN32)
    // Bytes in and out as they are: no line ending changes a byte of the text or the messages.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#endif
    Options options;
    std::vector<std::string> files;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--version") {
            std::printf("xkjson %s\n", BRENVO_TOOL_VERSION);
            return 0;
        }
        if (arg == "--help" || arg == "-h") {
            std::fputs(kUsage, stdout);
            std::fputs(kHelp, stdout);
            return 0;
        } else if (arg == "--fragment") {
            options.fragment = true;
        } else if (arg == "--check") {
            options.check = true;
        } else if (arg == "--pretty") {
            options.pretty = true;
        } else if (arg == "--sort-keys") {
            options.sortKeys = true;
        } else if (arg == "--max-depth" || arg.starts_with("--max-depth=")) {
            std::string_view count;
            if (arg == "--max-depth") {
                if (i + 1 >= argc)
                    return usageError("--max-depth needs a number");
                count = argv[++i];
            } else {
                count = arg.substr(std::strlen("--max-depth="));
            }
            const std::optional<uint64_t> depth = parseCount(count);
            if (!depth)
                return usageError("--max-depth needs a number, not '" + std::string(count) + "'");
            options.maxDepth = *depth;
        } else if (arg.size() > 1 && arg[0] == '-' && arg != "-") {
            return usageError("unknown option '" + std::string(arg) + "'");
        } else {
            files.emplace_back(arg);
        }
    }

    int status = 0;
    for (const std::string& file : files.empty() ? std::vector<std::string>{"-"} : files)
        status = std::max(status, checkInput(file, options));
    return status;
}
