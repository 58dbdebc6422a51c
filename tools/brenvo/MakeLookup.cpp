#include "Commands.h"
#include "Host.h"
#include "StoreServer.h"

#include "brenvo/BrenvoCheck.h"
#include "brenvo/BrenvoReleaseInfo.h"
#include "brenvo/platform/PropertyList.h"
#include "brenvo/platform/Window.h"
#include "brenvo/utf/Printable.h"
#include "brenvo/utf/Utf8.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sys/stat.h>
#include <unistd.h>

namespace brenvo::tool {

const char* const kMakeLookupHelp =
    R"(usage: brenvo make-lookup --version V [--notes FILE] [--page URL] [--minimum-os V]
                          [--release-date DATE] [-o FILE]

Writes a lookup file: the JSON reply an application can publish on its own web site instead
of asking the store. Serve it over https and put its URL, followed by "?id=", under
"BrenvoCastUrl" in the application's Info.plist: the agent appends the application's
identifier, which a plain file server ignores. The file is read back as the agent reads a
reply, and nothing is written unless it gives version V.

  --version V          the version the file offers (at most 256 bytes)
  --notes FILE         the release notes: a UTF-8 text file of at most 64 KiB
  --page URL           the page "Open App Store For Update" opens: an https URL, opened
                       only when its host is the store's or that of an https BrenvoCastUrl
  --minimum-os V       the oldest system version offered the release, such as 10.13
  --release-date DATE  when the release was published, in ISO 8601 such as
                       2026-12-01T09:00:00Z; it counts for BrenvoMinimumReleaseAge
  -o, --output FILE    write to FILE, replacing it whole (default: standard output)

Exit status: 0 when the file was written, 1 when it could not be (an unreadable notes file, a
version the agent would not read back, an unwritable FILE), 2 for a usage error.
)";

namespace {

namespace fs = std::filesystem;

// The whole of `path` when it is a UTF-8 text of at most `limit` bytes; nullopt with `why` set
// otherwise.
std::optional<std::string> readText(const std::string& path, std::size_t limit, std::string& why) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        why = "cannot read " + path + ": " + std::strerror(errno);
        return std::nullopt;
    }
    std::string text(limit + 1, '\0');
    in.read(text.data(), static_cast<std::streamsize>(text.size()));
    if (in.bad()) {
        why = "cannot read " + path;
        return std::nullopt;
    }
    text.resize(static_cast<std::size_t>(in.gcount()));
    if (text.size() > limit) {
        why = path + " is longer than " + std::to_string(limit / 1024) +
              " KiB, more than a release window shows";
        return std::nullopt;
    }
    if (!utf::isValidUtf8(text)) {
        why = path + " is not UTF-8 text";
        return std::nullopt;
    }
    return text;
}

// Replaces `path` with `text` at once: a reader sees the old file or the new one, never a part.
bool writeAtomically(const fs::path& path, const std::string& text, std::string& why) {
    std::string temporary = path.string() + ".XXXXXX";
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) {
        why = "cannot write " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    // A file to publish: readable by all, as a new file made under the process's umask is.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    std::size_t written = 0;
    bool done = ::fchmod(fd, 0666 & ~mask) == 0;
    while (done && written < text.size()) {
        const ssize_t n = ::write(fd, text.data() + written, text.size() - written);
        if (n < 0 && errno == EINTR)
            continue;
        done = n > 0;
        written += done ? static_cast<std::size_t>(n) : 0;
    }
    done = done && ::fsync(fd) == 0;
    done = ::close(fd) == 0 && done;
    done = done && ::rename(temporary.c_str(), path.c_str()) == 0;
    if (!done) {
        why = "cannot write " + path.string() + ": " + std::strerror(errno);
        ::unlink(temporary.c_str());
    }
    return done;
}

} // namespace

int runMakeLookup(const Arguments& arguments) {
    const std::string command = "make-lookup";
    if (!arguments.positional.empty())
        return usageError(command, "unexpected argument \"" + arguments.positional[0] + "\"");
    const auto version = arguments.value("version");
    if (!version)
        return usageError(command, "--version V is required");

    StoreRelease release;
    release.version = *version;
    release.releaseDate = arguments.value("release-date").value_or("");
    release.minimumOsVersion = arguments.value("minimum-os").value_or("");
    release.page = arguments.value("page");
    if (!release.releaseDate.empty() && !platform::dateFromISO8601(release.releaseDate))
        return usageError(command, "--release-date takes an ISO 8601 date such as "
                                   "2026-12-01T09:00:00Z, not \"" +
                                       utf::printable(release.releaseDate) + "\"");
    if (arguments.value("minimum-os") && !parseSystemVersion(release.minimumOsVersion))
        return usageError(command, "--minimum-os takes a version such as 10.13 or 12.0.1");
    if (release.page) {
        std::string why;
        // Its own host stands for the https BrenvoCastUrl it is meant to be published beside.
        if (!BrenvoReleaseInfo::appPage(release.page, release.page, &why))
            return usageError(command, "--page " + utf::printable(*release.page) +
                                           " would never be opened: " + why);
        if (!BrenvoReleaseInfo::appPage(release.page, std::nullopt, nullptr))
            complain(command, "note: the page is opened only when BrenvoCastUrl is an https URL "
                              "on the same host; otherwise \"Open\" opens the store's web page");
    }
    if (auto notes = arguments.value("notes")) {
        std::string why;
        auto text = readText(*notes, platform::kMaxShownReleaseNotes, why);
        if (!text) {
            complain(command, why);
            return 1;
        }
        release.releaseNotes = std::move(*text);
    }

    // Read back as the agent reads a reply: what it would not take is never written.
    const std::string file = lookupReply(release, std::nullopt);
    platform::URLResponse response;
    response.status = 200;
    response.body.assign(file.begin(), file.end());
    std::string trace;
    const auto reading = check::readReply(std::move(response), [&trace](std::string_view line) {
        trace += "\n  " + std::string(line);
    });
    const auto& read = reading.release;
    if (version->empty() || reading.ending || !read || read->version != *version ||
        read->page != release.page) {
        // Shown cut, as a version of any length may be the fault.
        const std::string shown =
            utf::printable(version->substr(0, 40)) + (version->size() > 40 ? "..." : "");
        complain(command, "refused: the agent would not read version \"" + shown +
                              "\" from the file: " +
                              (version->empty()         ? "an empty version is never newer than any"
                               : reading.reason.empty() ? "it reads another one"
                                                        : reading.reason) +
                              trace);
        return 1;
    }

    const auto output = arguments.value("output");
    if (!output || *output == "-") {
        std::fwrite(file.data(), 1, file.size(), stdout);
        return 0;
    }
    std::string why;
    if (!writeAtomically(*output, file, why)) {
        complain(command, why);
        return 1;
    }
    return 0;
}

} // namespace brenvo::tool
