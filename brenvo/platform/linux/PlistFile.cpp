#include "brenvo/platform/linux/PlistFile.h"

#include <plist/plist.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brenvo::platform {

namespace {

// Property-list dates count from 2001-01-01 00:00:00 UTC.
constexpr double kPlistEpochSince1970 = 978307200.0;

struct PlistDeleter {
    void operator()(void* node) const { plist_free(static_cast<plist_t>(node)); }
};
using PlistPtr = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter {
    void operator()(void* memory) const { std::free(memory); }
};

void setError(std::string* error, std::string text) {
    if (error != nullptr) {
        *error = std::move(text);
    }
}

// Texts are UTF-8 throughout; malformed bytes (possible in a binary list) become U+FFFD, so that
// whatever is read can be written again, and a NUL character, which the file cannot hold, too.
std::string wellFormed(std::string_view text) {
    return storableText(text);
}

std::string takeString(char* text) {
    std::unique_ptr<char, MallocDeleter> owned(text);
    return text != nullptr ? wellFormed(text) : std::string();
}

// Dates. The property-list library keeps a date as 32-bit seconds from 2001, which wraps after
// 2069 and before 1933. An XML file carries dates as text, so in XML they bypass the library:
// before parsing, each <date> element becomes a string holding a marker and the seconds since
// 1970, and on writing such strings become <date> elements again. The marker holds a number
// drawn once per process, so no text of a file can pass for it.
const std::string& dateMarker() {
    static const std::string marker = [] {
        std::random_device random;
        char text[64];
        std::snprintf(text, sizeof text, "brenvo-date-%08x%08x%08x:", random(), random(), random());
        return std::string(text);
    }();
    return marker;
}

// The XML text with every readable <date> element turned into a marked string.
std::string markDates(std::string_view xml) {
    static constexpr std::string_view kOpen = "<date>", kClose = "</date>";
    std::string out;
    out.reserve(xml.size());
    size_t at = 0;
    while (true) {
        const size_t open = xml.find(kOpen, at);
        const size_t close =
            open == std::string_view::npos ? open : xml.find(kClose, open + kOpen.size());
        if (close == std::string_view::npos)
            break;
        const auto date =
            dateFromISO8601(xml.substr(open + kOpen.size(), close - open - kOpen.size()));
        const std::optional<int64_t> seconds =
            date ? std::optional<int64_t>(static_cast<int64_t>(std::floor(date->secondsSince1970)))
                 : std::nullopt;
        out.append(xml.substr(at, (seconds ? open : close + kClose.size()) - at));
        if (seconds)
            out += "<string>" + dateMarker() + std::to_string(*seconds) + "</string>";
        at = close + kClose.size();
    }
    out.append(xml.substr(at));
    return out;
}

// The XML text with every marked string turned back into a <date> element.
std::string unmarkDates(std::string_view xml) {
    const std::string open = "<string>" + dateMarker();
    static constexpr std::string_view kClose = "</string>";
    std::string out;
    out.reserve(xml.size());
    size_t at = 0;
    while (true) {
        const size_t start = xml.find(open, at);
        const size_t close =
            start == std::string_view::npos ? start : xml.find(kClose, start + open.size());
        if (close == std::string_view::npos)
            break;
        const std::string_view digits =
            xml.substr(start + open.size(), close - start - open.size());
        int64_t seconds = 0;
        std::from_chars(digits.data(), digits.data() + digits.size(), seconds);
        out.append(xml.substr(at, start - at));
        out += "<date>" + iso8601FromDate(Date{static_cast<double>(seconds)}) + "</date>";
        at = close + kClose.size();
    }
    out.append(xml.substr(at));
    return out;
}

// The date a marked string stands for.
std::optional<Date> markedDate(std::string_view text) {
    const std::string& marker = dateMarker();
    if (!text.starts_with(marker))
        return std::nullopt;
    text.remove_prefix(marker.size());
    int64_t seconds = 0;
    const auto [end, failure] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (failure != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return Date{static_cast<double>(seconds)};
}

bool fromNode(plist_t node, size_t depth, PlistValue& out, std::string* error);

bool fromDictionary(plist_t node, size_t depth, PlistValue& out, std::string* error) {
    PlistDictionary members;
    plist_dict_iter iter = nullptr;
    plist_dict_new_iter(node, &iter);
    std::unique_ptr<void, MallocDeleter> ownedIter(iter);
    while (true) {
        char* key = nullptr;
        plist_t item = nullptr;
        plist_dict_next_item(node, iter, &key, &item);
        const std::unique_ptr<char, MallocDeleter> ownedKey(key);
        if (key == nullptr || item == nullptr) {
            break;
        }
        PlistValue member;
        if (!fromNode(item, depth + 1, member, error)) {
            return false;
        }
        members.insert_or_assign(wellFormed(key), std::move(member));
    }
    out = PlistValue(std::move(members));
    return true;
}

bool fromNode(plist_t node, size_t depth, PlistValue& out, std::string* error) {
    if (depth > kMaxPropertyListDepth) {
        setError(error, "nested too deeply");
        return false;
    }
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        out = PlistValue(flag != 0);
        return true;
    }
    case PLIST_UINT: {
        uint64_t number = 0;
        plist_get_uint_val(node, &number);
        out = PlistValue(static_cast<int64_t>(number));
        return true;
    }
    case PLIST_UID: {
        uint64_t number = 0;
        plist_get_uid_val(node, &number);
        out = PlistValue(static_cast<int64_t>(number));
        return true;
    }
    case PLIST_REAL: {
        double number = 0;
        plist_get_real_val(node, &number);
        out = PlistValue(number);
        return true;
    }
    case PLIST_STRING:
    case PLIST_KEY: {
        char* text = nullptr;
        if (plist_get_node_type(node) == PLIST_STRING) {
            plist_get_string_val(node, &text);
        } else {
            plist_get_key_val(node, &text);
        }
        std::string value = takeString(text);
        if (auto date = markedDate(value)) {
            out = PlistValue(*date);
        } else {
            out = PlistValue(std::move(value));
        }
        return true;
    }
    case PLIST_DATE: {
        int32_t seconds = 0;
        int32_t micros = 0;
        plist_get_date_val(node, &seconds, &micros);
        out = PlistValue(Date{kPlistEpochSince1970 + seconds + micros / 1e6});
        return true;
    }
    case PLIST_DATA: {
        char* bytes = nullptr;
        uint64_t length = 0;
        plist_get_data_val(node, &bytes, &length);
        std::unique_ptr<char, MallocDeleter> owned(bytes);
        PlistData data;
        if (bytes != nullptr) {
            data.assign(reinterpret_cast<const uint8_t*>(bytes),
                        reinterpret_cast<const uint8_t*>(bytes) + length);
        }
        out = PlistValue(std::move(data));
        return true;
    }
    case PLIST_ARRAY: {
        PlistArray items;
        const uint32_t count = plist_array_get_size(node);
        items.reserve(count);
        for (uint32_t i = 0; i < count; ++i) {
            PlistValue item;
            if (!fromNode(plist_array_get_item(node, i), depth + 1, item, error)) {
                return false;
            }
            items.push_back(std::move(item));
        }
        out = PlistValue(std::move(items));
        return true;
    }
    case PLIST_DICT:
        return fromDictionary(node, depth, out, error);
    default:
        setError(error, "holds an element of unknown type");
        return false;
    }
}

plist_t toNode(const PlistValue& value, size_t depth, bool xml) {
    if (depth > kMaxPropertyListDepth) {
        return nullptr;
    }
    switch (value.kind()) {
    case PlistValue::Kind::String:
        return plist_new_string(wellFormed(*value.asString()).c_str());
    case PlistValue::Kind::Integer:
        return plist_new_uint(static_cast<uint64_t>(*value.asInteger()));
    case PlistValue::Kind::Real:
        return plist_new_real(*value.asReal());
    case PlistValue::Kind::Boolean:
        return plist_new_bool(*value.asBoolean() ? 1 : 0);
    case PlistValue::Kind::Date: {
        if (xml) {
            const double seconds = std::floor(value.asDate()->secondsSince1970);
            const double bounded =
                std::isnan(seconds) ? kPlistEpochSince1970 : std::clamp(seconds, -1e15, 1e15);
            return plist_new_string(
                (dateMarker() + std::to_string(static_cast<int64_t>(bounded))).c_str());
        }
        const double sincePlistEpoch = value.asDate()->secondsSince1970 - kPlistEpochSince1970;
        double whole = std::floor(sincePlistEpoch);
        if (std::isnan(whole)) {
            whole = 0;
        }
        whole = std::clamp(whole, -2147483648.0, 2147483647.0);
        auto micros = static_cast<int32_t>(std::lround((sincePlistEpoch - whole) * 1e6));
        if (!(micros >= 0 && micros < 1'000'000)) {
            micros = 0;
        }
        return plist_new_date(static_cast<int32_t>(whole), micros);
    }
    case PlistValue::Kind::Data: {
        const PlistData& bytes = *value.asData();
        return plist_new_data(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    }
    case PlistValue::Kind::Array: {
        PlistPtr array(plist_new_array());
        for (const PlistValue& item : *value.asArray()) {
            plist_t node = toNode(item, depth + 1, xml);
            if (node == nullptr) {
                return nullptr;
            }
            plist_array_append_item(array.get(), node);
        }
        return array.release();
    }
    case PlistValue::Kind::Dictionary: {
        PlistPtr dictionary(plist_new_dict());
        for (const auto& [key, member] : *value.asDictionary()) {
            plist_t node = toNode(member, depth + 1, xml);
            if (node == nullptr) {
                return nullptr;
            }
            plist_dict_set_item(dictionary.get(), wellFormed(key).c_str(), node);
        }
        return dictionary.release();
    }
    }
    return nullptr;
}

uint64_t bigEndian(const uint8_t* bytes, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value = (value << 8) | bytes[i];
    }
    return value;
}

constexpr size_t kBinaryTrailer = 32;

// The offsets of a binary list's objects, each before the trailer; nullopt when the trailer or
// the offset table points outside the data.
std::optional<std::vector<size_t>> binaryObjectOffsets(std::string_view data) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    const size_t size = data.size();
    if (size < 8 + kBinaryTrailer) {
        return std::nullopt;
    }
    const uint8_t* trailer = bytes + size - kBinaryTrailer;
    const size_t offsetSize = trailer[6];
    const uint64_t objects = bigEndian(trailer + 8, 8);
    const uint64_t table = bigEndian(trailer + 24, 8);
    const size_t end = size - kBinaryTrailer;
    if (offsetSize < 1 || offsetSize > 8 || table >= end || objects > (end - table) / offsetSize) {
        return std::nullopt;
    }
    std::vector<size_t> offsets;
    offsets.reserve(objects);
    for (uint64_t i = 0; i < objects; ++i) {
        const uint64_t offset = bigEndian(bytes + table + i * offsetSize, offsetSize);
        if (offset >= end) {
            return std::nullopt;
        }
        offsets.push_back(offset);
    }
    return offsets;
}

// The system's property-list library aborts the process on a text holding a NUL character, so
// such input must never reach it. XML cannot hold NUL at all; in the binary form every string
// object is checked. Also true when the tables of a binary list point outside the data.
bool holdsNulText(std::string_view data) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(data.data());
    if (data.substr(0, 8) != "bplist00") {
        return data.find('\0') != std::string_view::npos;
    }
    const auto offsets = binaryObjectOffsets(data);
    if (!offsets) {
        return true;
    }
    const size_t end = data.size() - kBinaryTrailer;
    std::vector<bool> checked(end, false);
    for (const size_t offset : *offsets) {
        const uint8_t marker = bytes[offset];
        const unsigned type = marker >> 4;
        if ((type != 5 && type != 6) || checked[offset]) {
            continue;
        }
        checked[offset] = true;
        uint64_t count = marker & 0xF;
        size_t position = offset + 1;
        if (count == 0xF) {
            if (position >= end || (bytes[position] >> 4) != 1) {
                return true;
            }
            const size_t width = size_t{1} << (bytes[position] & 0xF);
            if (width > 8 || width > end - position - 1) {
                return true;
            }
            count = bigEndian(bytes + position + 1, width);
            position += 1 + width;
        }
        const size_t unit = type == 5 ? 1 : 2;
        if (count > (end - position) / unit) {
            return true;
        }
        for (uint64_t k = 0; k < count; ++k) {
            const uint8_t* at = bytes + position + k * unit;
            if (at[0] == 0 && (unit == 1 || at[1] == 0)) {
                return true;
            }
        }
    }
    return false;
}

// Integers past 64 bits. The property-list library keeps every integer in 64 bits and cannot tell
// an unsigned one past INT64_MAX from a negative one (18446744073709551615 and -1 read alike), and
// wraps what is larger still. So before it parses, every integer outside the signed 64-bit range
// becomes the nearest value inside it: INT64_MAX above, INT64_MIN below.

// XML: each <integer> element, read as the library reads it (its own sign, then the grammar of
// strtoull with base 0: white space, a sign, decimal, octal or hex digits), given the saturated
// value when it lies outside the range. Nullopt when no element needs it.
std::optional<std::string> saturatedXmlIntegers(std::string_view xml) {
    static constexpr std::string_view kOpen = "<integer>", kClose = "</integer>";
    std::string out;
    size_t copied = 0;
    for (size_t open = xml.find(kOpen); open != std::string_view::npos;
         open = xml.find(kOpen, open + kOpen.size())) {
        const size_t start = open + kOpen.size();
        const size_t close = xml.find(kClose, start);
        if (close == std::string_view::npos) {
            break;
        }
        std::string_view text = xml.substr(start, close - start);
        bool negative = false;
        for (int sign = 0; sign < 2 && !text.empty(); ++sign) {
            if (text.front() == '-' || text.front() == '+') {
                negative ^= text.front() == '-';
                text.remove_prefix(1);
            }
            while (sign == 0 && !text.empty() &&
                   (text.front() == ' ' || (text.front() >= '\t' && text.front() <= '\r'))) {
                text.remove_prefix(1);
            }
        }
        unsigned base = 10;
        if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X') &&
            std::isxdigit(static_cast<unsigned char>(text[2]))) {
            base = 16;
            text.remove_prefix(2);
        } else if (text.starts_with('0')) {
            base = 8;
        }
        // The magnitude, held up to 2^64 - 1; past that it only counts as too large.
        uint64_t magnitude = 0;
        bool overflow = false;
        for (const char c : text) {
            const unsigned digit = c >= '0' && c <= '9'   ? static_cast<unsigned>(c - '0')
                                   : c >= 'a' && c <= 'f' ? static_cast<unsigned>(c - 'a' + 10)
                                   : c >= 'A' && c <= 'F' ? static_cast<unsigned>(c - 'A' + 10)
                                                          : base;
            if (digit >= base) {
                break;
            }
            overflow = overflow || magnitude > (UINT64_MAX - digit) / base;
            magnitude = magnitude * base + digit;
        }
        constexpr uint64_t kMax = INT64_MAX;
        if (!overflow && magnitude <= (negative ? kMax + 1 : kMax)) {
            continue;
        }
        out.append(xml.substr(copied, start - copied));
        out += std::to_string(negative ? INT64_MIN : INT64_MAX);
        copied = close;
    }
    if (copied == 0) {
        return std::nullopt;
    }
    out.append(xml.substr(copied));
    return out;
}

// Binary: an integer of 16 bytes (a signed 128-bit number) of which the library reads the lower
// 8 bytes. Where the number lies outside the range, those bytes are given the saturated value.
// Nullopt when no object needs it (or the tables are unreadable: the library refuses those).
std::optional<std::string> saturatedBinaryIntegers(std::string_view data) {
    constexpr uint8_t kWideInteger = 0x14;
    const auto offsets = binaryObjectOffsets(data);
    if (!offsets) {
        return std::nullopt;
    }
    std::optional<std::string> out;
    const size_t end = data.size() - kBinaryTrailer;
    for (const size_t offset : *offsets) {
        const auto* at = reinterpret_cast<const uint8_t*>(data.data()) + offset;
        if (at[0] != kWideInteger || end - offset < 17) {
            continue;
        }
        const uint64_t high = bigEndian(at + 1, 8);
        const uint64_t low = bigEndian(at + 9, 8);
        const bool fits = (high == 0 && low <= uint64_t{INT64_MAX}) ||
                          (high == UINT64_MAX && low > uint64_t{INT64_MAX});
        if (fits) {
            continue;
        }
        if (!out) {
            out.emplace(data);
        }
        const uint64_t saturated = (high >> 63) != 0 ? uint64_t{1} << 63 : uint64_t{INT64_MAX};
        for (size_t i = 0; i < 8; ++i) {
            (*out)[offset + 9 + i] = static_cast<char>(saturated >> (56 - 8 * i));
        }
    }
    return out;
}

} // namespace

std::optional<PlistValue> propertyListFromData(std::string_view bytes, std::string* error) {
    if (bytes.empty()) {
        setError(error, "the file is empty");
        return std::nullopt;
    }
    if (bytes.size() > kMaxPropertyListFileSize) {
        setError(error, "the file is too large");
        return std::nullopt;
    }
    if (holdsNulText(bytes)) {
        setError(error, "not a property list");
        return std::nullopt;
    }
    plist_t root = nullptr;
    if (bytes.substr(0, 8) == "bplist00") {
        const auto saturated = saturatedBinaryIntegers(bytes);
        const std::string_view binary = saturated ? std::string_view(*saturated) : bytes;
        plist_from_memory(binary.data(), static_cast<uint32_t>(binary.size()), &root);
    } else {
        std::string xml = markDates(bytes);
        if (auto saturated = saturatedXmlIntegers(xml)) {
            xml = std::move(*saturated);
        }
        plist_from_memory(xml.data(), static_cast<uint32_t>(xml.size()), &root);
    }
    const PlistPtr owned(root);
    if (root == nullptr) {
        setError(error, "not a property list");
        return std::nullopt;
    }
    PlistValue value;
    if (!fromNode(root, 0, value, error)) {
        return std::nullopt;
    }
    return value;
}

std::string dataFromPropertyList(const PlistValue& value, PlistFormat format) {
    const PlistPtr root(toNode(value, 0, format == PlistFormat::XML));
    if (!root) {
        return {};
    }
    char* bytes = nullptr;
    uint32_t length = 0;
    if (format == PlistFormat::XML) {
        plist_to_xml(root.get(), &bytes, &length);
    } else {
        plist_to_bin(root.get(), &bytes, &length);
    }
    std::string out = bytes != nullptr ? std::string(bytes, length) : std::string();
    if (format == PlistFormat::XML) {
        out = unmarkDates(out);
        plist_to_xml_free(bytes);
    } else {
        plist_to_bin_free(bytes);
    }
    return out;
}

std::optional<PlistValue> readPropertyListFile(const std::filesystem::path& path,
                                               std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        setError(error, std::strerror(errno));
        return std::nullopt;
    }
    std::string bytes;
    struct stat info {};
    bool ok = ::fstat(fd, &info) == 0;
    if (ok && !S_ISREG(info.st_mode)) {
        setError(error, "not a regular file");
        ok = false;
    } else if (ok && static_cast<uint64_t>(info.st_size) > kMaxPropertyListFileSize) {
        setError(error, "the file is too large");
        ok = false;
    }
    char buffer[65536];
    while (ok) {
        const ssize_t got = ::read(fd, buffer, sizeof buffer);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            setError(error, std::strerror(errno));
            ok = false;
        } else if (got == 0) {
            break;
        } else if (bytes.size() + static_cast<size_t>(got) > kMaxPropertyListFileSize) {
            setError(error, "the file is too large");
            ok = false;
        } else {
            bytes.append(buffer, static_cast<size_t>(got));
        }
    }
    ::close(fd);
    if (!ok) {
        return std::nullopt;
    }
    return propertyListFromData(bytes, error);
}

bool writePropertyListFile(const PlistValue& value, const std::filesystem::path& path,
                           PlistFormat format, std::string* error) {
    const std::string bytes = dataFromPropertyList(value, format);
    if (bytes.empty()) {
        setError(error, "the value cannot be encoded");
        return false;
    }
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        setError(error, std::strerror(errno));
        return false;
    }
    std::string_view rest = bytes;
    while (!rest.empty()) {
        const ssize_t written = ::write(fd, rest.data(), rest.size());
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            setError(error, std::strerror(written < 0 ? errno : ENOSPC));
            ::close(fd);
            return false;
        }
        rest.remove_prefix(static_cast<size_t>(written));
    }
    if (::close(fd) != 0) {
        setError(error, std::strerror(errno));
        return false;
    }
    return true;
}

} // namespace brenvo::platform
