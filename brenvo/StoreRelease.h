// The store's release record of the host application, as the check and the window use it: each
// field read once, in UTF-8, with the whole record kept for hosts that want more.
//
//   agent.setOutcomeObserver([](const brenvo::CheckOutcome& outcome) {
//       if (outcome.release && outcome.release->releaseNotes)
//           showNotes(*outcome.release->releaseNotes);
//   });
#pragma once

#include "brenvo/Export.h"

#include <memory>
#include <optional>
#include <string>

namespace brenvo {

class JsonValue;

struct BRENVO_EXPORT StoreRelease {
    // Why a "version" the record has gives no store version.
    enum class VersionFault { None, NotText, TooLong };

    // "version" when it is a text of at most 256 bytes (kMaxVersionLength): the store version.
    std::optional<std::string> version;
    VersionFault versionFault = VersionFault::None;
    // "version" as a window shows it: the store version, or a longer text cut at 256 bytes with
    // "…"; absent when the record has no text there.
    std::optional<std::string> shownVersion;
    // "releaseNotes" as a window shows them: cut at platform::kMaxShownReleaseNotes bytes on a
    // character boundary with "…".
    std::optional<std::string> releaseNotes;
    std::optional<std::string> releaseDate;      // "currentVersionReleaseDate", ISO 8601
    std::optional<std::string> minimumOsVersion; // "minimumOsVersion"
    std::optional<std::string> page;             // "trackViewUrl", the application's store page
    // The whole record; never null (an empty value when there was none).
    std::shared_ptr<const JsonValue> record;
};

// The fields of `record` (null: an empty record). A field that is not a text reads as absent.
BRENVO_EXPORT StoreRelease readStoreRelease(std::shared_ptr<const JsonValue> record);

} // namespace brenvo
