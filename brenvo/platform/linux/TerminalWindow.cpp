#include "brenvo/platform/linux/TerminalWindow.h"

#include "brenvo/platform/RunLoop.h"
#include "brenvo/utf/Printable.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

namespace brenvo::platform {
namespace {

// A line longer than this is no answer of ours: it closes the window.
constexpr size_t kMaxAnswerLength = 256;

bool isOpenFd(int fd) {
    return fd >= 0 && fcntl(fd, F_GETFD) != -1;
}

void writeAll(int fd, std::string_view text) {
    while (!text.empty()) {
        ssize_t n = ::write(fd, text.data(), text.size());
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return; // nobody reads the output: the window still works by its answer
        text.remove_prefix(static_cast<size_t>(n));
    }
}

std::string lowerTrimmed(std::string_view text) {
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r' ||
                             text.back() == '\n'))
        text.remove_suffix(1);
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    return out;
}

class TerminalWindow final : public Window {
public:
    TerminalWindow(ReleaseWindowOwner& owner, RunLoop& loop, TerminalWindowOptions options)
        : owner_(owner), loop_(loop), options_(options) {}

    ~TerminalWindow() override { stopWaiting(); }

    void showWindow(const ReleaseTexts& texts) override {
        if (shown_ || closed_)
            return;
        shown_ = true;
        std::string text = releaseWindowText(texts);
        text += "  [anything else] Close\n";
        writeAll(options_.outputFd, text);
        owner_.awakeFromNib();
        if (closed_)
            return;
        if (options_.answer) {
            WindowAnswer answer = *options_.answer;
            writeAll(options_.outputFd, answer == WindowAnswer::Open   ? "> o\n"
                                        : answer == WindowAnswer::Skip ? "> s\n"
                                                                       : "> \n");
            answerTimer_ = Timer::timerWithTimeInterval(0, [this, answer] { give(answer); });
            loop_.addTimer(answerTimer_, kDefaultRunLoopMode);
        } else {
            writeAll(options_.outputFd, "> ");
            watch_ = loop_.watchReadable(options_.inputFd, [this] { readAnswer(); });
        }
    }

    void close() override {
        if (closed_)
            return;
        closed_ = true;
        stopWaiting();
        owner_.windowWillClose();
    }

    // Printed, and closed at once: there is nothing to answer.
    bool showMessage(const MessageTexts& texts) override {
        if (shown_ || closed_)
            return false;
        shown_ = true;
        writeAll(options_.outputFd, messageLine(texts));
        owner_.awakeFromNib();
        close();
        return true;
    }

private:
    void stopWaiting() {
        if (watch_) {
            loop_.removeWatch(*watch_);
            watch_.reset();
        }
        if (answerTimer_) {
            answerTimer_->invalidate();
            answerTimer_.reset();
        }
    }

    void readAnswer() {
        char buffer[128];
        ssize_t n = ::read(options_.inputFd, buffer, sizeof buffer);
        if (n < 0 && (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK))
            return;
        if (n > 0) {
            line_.append(buffer, static_cast<size_t>(n));
            size_t newline = line_.find('\n');
            if (newline == std::string::npos && line_.size() <= kMaxAnswerLength)
                return; // wait for the rest of the line
            line_.resize(std::min(newline, line_.size()));
        }
        // A whole line, the end of the input or a read error: this is the answer.
        std::string answer = lowerTrimmed(line_);
        if (watch_) {
            loop_.removeWatch(*watch_);
            watch_.reset();
        }
        if (answer == "o" || answer == "open")
            give(WindowAnswer::Open);
        else if (answer == "s" || answer == "skip")
            give(WindowAnswer::Skip);
        else
            give(WindowAnswer::Close);
    }

    void give(WindowAnswer answer) {
        if (closed_)
            return;
        switch (answer) {
        case WindowAnswer::Open:
            owner_.doOpenMas();
            break;
        case WindowAnswer::Skip:
            owner_.doSkip();
            break;
        case WindowAnswer::Close:
            close();
            break;
        }
    }

    ReleaseWindowOwner& owner_;
    RunLoop& loop_;
    TerminalWindowOptions options_;
    bool shown_ = false;
    bool closed_ = false;
    std::optional<uint64_t> watch_;
    std::shared_ptr<Timer> answerTimer_;
    std::string line_;
};

} // namespace

std::string releaseWindowText(const ReleaseTexts& texts) {
    // Every text may carry the store's words or the host's: each is one printable line, and only
    // the release notes keep their line breaks and tabs. The notes stand between two rules, each
    // of their lines behind a gutter, so that nothing in them can pass for the window's own lines.
    auto line = [](std::string_view text) { return utf::printable(text); };
    std::string text = "== " + line(texts.windowTitle) + " ==\n\n" + line(texts.titleText) +
                       "\n\n" + line(texts.descriptionText) + "\n\n" + line(texts.releaseText) +
                       "\n";
    if (auto notes = shownReleaseDetails(texts)) {
        constexpr std::string_view kRule = "  +--------\n";
        constexpr std::string_view kGutter = "  | ";
        text += kRule;
        std::string_view rest = *notes;
        if (rest.ends_with('\n'))
            rest.remove_suffix(1);
        while (!notes->empty()) {
            const size_t end = std::min(rest.find('\n'), rest.size());
            text += kGutter;
            utf::appendPrintable(text, rest.substr(0, end), utf::LineBreaks::Keep);
            text += '\n';
            if (end == rest.size())
                break;
            rest.remove_prefix(end + 1);
        }
        text += kRule;
    }
    text += "\n  [o] " + line(texts.buttonTitleUpdateNow.text) + "\n";
    text += "  [s] " + line(texts.buttonTitleUpdateSkip.text) + "\n";
    return text;
}

std::string messageLine(const MessageTexts& texts) {
    return utf::printable(texts.messageText) + " \u2014 " + utf::printable(texts.informativeText) +
           "\n";
}

std::unique_ptr<Window> makeTerminalWindow(ReleaseWindowOwner& owner, RunLoop& loop,
                                           const TerminalWindowOptions& options) {
    if (!isOpenFd(options.outputFd) || (!options.answer && !isOpenFd(options.inputFd)))
        return nullptr;
    if (options.onlyWhenInteractive &&
        (options.answer || !::isatty(options.inputFd) || !::isatty(options.outputFd)))
        return nullptr;
    return std::make_unique<TerminalWindow>(owner, loop, options);
}

void registerTerminalWindow(WindowRegistry& registry) {
    registerTerminalWindow(registry, TerminalWindowOptions{});
}

void registerTerminalWindow(WindowRegistry& registry, const TerminalWindowOptions& options) {
    registry.registerWindow(std::string(kReleaseInfoWindow),
                            [options](ReleaseWindowOwner& owner, RunLoop& loop) {
                                return makeTerminalWindow(owner, loop, options);
                            });
}

} // namespace brenvo::platform
