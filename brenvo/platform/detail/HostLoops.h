// Bookkeeping shared by the host loop adapters (GLib, Qt) and the one-call host attachments
// (GTK, Qt): which run loops the adapters of one kind drive, and the adapters that those calls
// keep for their hosts.
#pragma once

#include "brenvo/platform/RunLoop.h"

#include <map>
#include <memory>
#include <mutex>

namespace brenvo::detail {

// How many adapters of one kind drive each run loop. Safe from any thread.
class DrivenLoops {
public:
    void add(const platform::RunLoop& loop) {
        const std::lock_guard<std::mutex> hold(lock_);
        ++count_[&loop];
    }
    void remove(const platform::RunLoop& loop) {
        const std::lock_guard<std::mutex> hold(lock_);
        if (--count_[&loop] <= 0)
            count_.erase(&loop);
    }
    bool contains(const platform::RunLoop& loop) {
        const std::lock_guard<std::mutex> hold(lock_);
        return count_.count(&loop) != 0;
    }

private:
    std::mutex lock_;
    std::map<const platform::RunLoop*, int> count_;
};

// The adapters (a `Source` made from a run loop) that a host's one call keeps, one per run loop,
// until the host detaches. Safe from any thread; never destroyed, as a host may detach from a
// static destructor.
template <class Source> class AttachedSources {
public:
    // Makes the adapter of `loop` unless it has one.
    static void attach(platform::RunLoop& loop) {
        AttachedSources& all = instance();
        const std::lock_guard<std::mutex> hold(all.lock_);
        auto& source = all.sources_[&loop];
        if (!source)
            source = std::make_unique<Source>(loop);
    }

    // Destroys the adapter of `loop`, if any, outside the lock.
    static void detach(platform::RunLoop& loop) {
        std::unique_ptr<Source> source;
        AttachedSources& all = instance();
        const std::lock_guard<std::mutex> hold(all.lock_);
        auto it = all.sources_.find(&loop);
        if (it == all.sources_.end())
            return;
        source = std::move(it->second);
        all.sources_.erase(it);
    }

private:
    static AttachedSources& instance() {
        static auto* all = new AttachedSources();
        return *all;
    }

    std::mutex lock_;
    std::map<platform::RunLoop*, std::unique_ptr<Source>> sources_;
};

} // namespace brenvo::detail
