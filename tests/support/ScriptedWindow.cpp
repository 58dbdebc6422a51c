#include "support/ScriptedWindow.h"

#include "brenvo/platform/RunLoop.h"

namespace brenvo::test {

using platform::WindowAnswer;

class ScriptedWindowImpl;

struct ScriptedWindow::State {
    std::optional<WindowAnswer> answer;
    bool refuse = false;
    std::vector<Shown> shown;
    std::vector<ScriptedWindowImpl*> open;
};

class ScriptedWindowImpl final : public platform::Window {
public:
    ScriptedWindowImpl(std::shared_ptr<ScriptedWindow::State> state,
                       platform::ReleaseWindowOwner& owner, platform::RunLoop& loop)
        : state_(std::move(state)), owner_(owner), loop_(loop) {}

    ~ScriptedWindowImpl() override {
        if (timer_)
            timer_->invalidate();
        forget();
        if (index_)
            record().destroyed = true;
    }

    void showWindow(const platform::ReleaseTexts& texts) override {
        ScriptedWindow::Shown shown;
        shown.texts = texts;
        show(std::move(shown));
    }

    // Any answer closes a message.
    bool showMessage(const platform::MessageTexts& texts) override {
        ScriptedWindow::Shown shown;
        shown.message = texts;
        show(std::move(shown));
        return true;
    }

    void show(ScriptedWindow::Shown shown) {
        if (index_)
            return;
        state_->shown.push_back(std::move(shown));
        index_ = state_->shown.size() - 1;
        state_->open.push_back(this);
        ++record().awakenings;
        owner_.awakeFromNib();
        if (auto answer = state_->answer) {
            timer_ = platform::Timer::timerWithTimeInterval(0, [this, answer] { give(*answer); });
            loop_.addTimer(timer_, platform::kDefaultRunLoopMode);
        }
    }

    void activateApplication() override { ++record().activations; }
    void center() override { ++record().centerings; }
    void makeKeyAndOrderFront() override { ++record().frontings; }

    void close() override {
        if (closed_)
            return;
        closed_ = true;
        forget();
        ++record().willCloseCalls;
        owner_.windowWillClose();
    }

    void give(WindowAnswer answer) {
        if (closed_)
            return;
        const bool message = record().message.has_value();
        if (answer == WindowAnswer::Open && !message)
            owner_.doOpenMas();
        else if (answer == WindowAnswer::Skip && !message)
            owner_.doSkip();
        else
            close();
    }

private:
    ScriptedWindow::Shown& record() {
        static ScriptedWindow::Shown unshown;
        return index_ ? state_->shown[*index_] : unshown;
    }

    void forget() { std::erase(state_->open, this); }

    std::shared_ptr<ScriptedWindow::State> state_;
    platform::ReleaseWindowOwner& owner_;
    platform::RunLoop& loop_;
    std::optional<size_t> index_;
    bool closed_ = false;
    std::shared_ptr<platform::Timer> timer_;
};

ScriptedWindow::ScriptedWindow(std::optional<WindowAnswer> answer)
    : state_(std::make_shared<State>()) {
    state_->answer = answer;
}

void ScriptedWindow::registerWith(platform::WindowRegistry& registry) {
    std::weak_ptr<State> weak = state_;
    registry.registerWindow(std::string(platform::kReleaseInfoWindow),
                            [weak](platform::ReleaseWindowOwner& owner,
                                   platform::RunLoop& loop) -> std::unique_ptr<platform::Window> {
                                auto state = weak.lock();
                                if (!state || state->refuse)
                                    return nullptr;
                                return std::make_unique<ScriptedWindowImpl>(state, owner, loop);
                            });
}

void ScriptedWindow::setRefuse(bool refuse) {
    state_->refuse = refuse;
}

const std::vector<ScriptedWindow::Shown>& ScriptedWindow::shown() const {
    return state_->shown;
}

void ScriptedWindow::answer(WindowAnswer answer) {
    if (!state_->open.empty())
        state_->open.back()->give(answer);
}

void ScriptedWindow::closeByWindowManager() {
    answer(WindowAnswer::Close);
}

} // namespace brenvo::test
