// Property-list files: XML or binary on reading, XML or binary on writing.
//
//   std::string why;
//   if (auto info = readPropertyListFile("/opt/app/Info.plist", &why)) use(*info);
//   else log("unreadable: " + why);
#pragma once

#include "brenvo/Export.h"
#include "brenvo/platform/PropertyList.h"

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace brenvo::platform {

enum class PlistFormat { XML, Binary };

// Files beyond this size are refused rather than read into memory.
inline constexpr size_t kMaxPropertyListFileSize = size_t{16} * 1024 * 1024;
// Containers nested deeper than this are refused.
inline constexpr size_t kMaxPropertyListDepth = 256;

// Parses XML or binary property-list bytes. An integer outside the signed 64-bit range reads as
// the nearest end of it (INT64_MAX or INT64_MIN), never wrapped. On failure gives nullopt and,
// when `error` is not null, a short English reason.
BRENVO_EXPORT std::optional<PlistValue> propertyListFromData(std::string_view bytes,
                                                             std::string* error);

// The property list as XML or binary bytes. Dates keep whole seconds in XML and fractions in
// binary. Empty when the value cannot be encoded.
BRENVO_EXPORT std::string dataFromPropertyList(const PlistValue& value, PlistFormat format);

// Reads and parses the file at `path`. On failure gives nullopt and, when `error` is not null,
// a reason ("No such file or directory", "not a property list", ...).
BRENVO_EXPORT std::optional<PlistValue> readPropertyListFile(const std::filesystem::path& path,
                                                             std::string* error);

// Writes `value` to `path` directly (not atomically): for tools and tests. False with `error` set
// on failure.
BRENVO_EXPORT bool writePropertyListFile(const PlistValue& value, const std::filesystem::path& path,
                                         PlistFormat format, std::string* error);

} // namespace brenvo::platform
