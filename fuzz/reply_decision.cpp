// Fuzzes the check from the store's reply to its decision, the steps the agent runs on whatever
// the network hands it: any reply gives a reading and, where the check goes on, a decision,
// never a crash; no update is announced, skipped or held back without a store version; a reading
// that ends the check says why; and the outcome's one-line description holds no control
// character, whatever the reply held.
//
// Input: the first byte chooses the rest of the decision's input (bit 0: started by the user;
// bits 1-2: the application's version; bits 3-4: the skipped version; bit 5: a minimum release
// age; bit 6: a readable system version; bit 7: a reply dropped as too large), the other bytes
// are the reply's body.
#include "brenvo/BrenvoCheck.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <string>
#include <string_view>

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

bool printableLine(std::string_view text) {
    for (const unsigned char c : text)
        if (c < 0x20 || c == 0x7F)
            return false;
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0)
        return 0;
    using brenvo::CheckOutcome;
    namespace check = brenvo::check;
    const uint8_t control = data[0];

    brenvo::platform::URLResponse response;
    response.body.assign(data + 1, data + size);
    response.tooLarge = (control & 0x80) != 0;
    if (response.tooLarge)
        response.body.clear();
    size_t lines = 0;
    const check::Note note = [&lines](std::string_view) { ++lines; };

    check::ReleaseReading reading = check::readReply(response, note);
    require(lines > 0 || !reading.ending); // an ending is always logged
    if (reading.ending) {
        require(*reading.ending == CheckOutcome::Kind::NoReply ||
                *reading.ending == CheckOutcome::Kind::UnusableReply);
        require(!reading.reason.empty());
        CheckOutcome outcome;
        outcome.kind = *reading.ending;
        outcome.reason = reading.reason;
        require(printableLine(brenvo::describeOutcome(outcome)));
        return 0;
    }

    static const std::optional<std::string> kAppVersions[] = {std::nullopt, "1.0", "2.0", "10.9.3"};
    check::DecisionInput input;
    input.release = reading.release;
    const std::optional<std::string> storeVersion =
        reading.release ? reading.release->version : std::nullopt;
    input.appVersion = kAppVersions[(control >> 1) & 3];
    switch ((control >> 3) & 3) {
    case 0:
        break;
    case 1:
        input.skippedVersion = "2.0";
        break;
    case 2:
        input.skippedVersion = storeVersion;
        break;
    case 3:
        input.skippedVersion = "\xEF\xBF\xBD";
        break;
    }
    input.userInitiated = (control & 1) != 0;
    input.now = brenvo::platform::Date{1'800'000'000.0};
    if (control & 0x20)
        input.minimumReleaseAge = 86400;
    if (control & 0x40)
        input.systemVersion = "13.4.1";

    const check::Decision decision = check::decide(input, note);
    const bool newer = decision.kind == CheckOutcome::Kind::UpdateAvailable ||
                       decision.kind == CheckOutcome::Kind::Skipped ||
                       decision.kind == CheckOutcome::Kind::HeldBack;
    require(!newer || storeVersion.has_value());
    require((decision.kind == CheckOutcome::Kind::HeldBack) ==
            (decision.gate != CheckOutcome::Gate::None));

    CheckOutcome outcome;
    outcome.kind = decision.kind;
    outcome.gate = decision.gate;
    outcome.version = storeVersion;
    outcome.release = reading.release;
    outcome.reason = reading.reason;
    require(printableLine(brenvo::describeOutcome(outcome)));
    return 0;
}
