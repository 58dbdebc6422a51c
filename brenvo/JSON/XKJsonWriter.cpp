#include "brenvo/JSON/XKJsonWriter.h"

#include "brenvo/JSON/detail/WriterEngine.h"

#include <array>

namespace brenvo {
namespace {

constexpr std::array<char16_t, 34> makeEscapeChars() {
    std::array<char16_t, 34> units{};
    for (char16_t unit = 0; unit < 32; ++unit)
        units[unit] = unit;
    units[32] = u'"';
    units[33] = u'\\';
    return units;
}

constexpr std::array<char16_t, 34> kEscapeUnits = makeEscapeChars();

template <class Char>
bool appendQuoted(XKJsonWriter& writer, std::u16string_view string, std::basic_string<Char>& into) {
    detail::WriterEngine<Char> engine(writer, into, into.size());
    return engine.appendString(string);
}

} // namespace

const std::u16string_view XKJsonWriter::kEscapeChars(kEscapeUnits.data(), kEscapeUnits.size());

XKJsonWriting::~XKJsonWriting() = default;

XKJsonWriter::XKJsonWriter() : scratch_(std::make_unique<Scratch>()) {
    scratch_->frames.reserve(32);
}

XKJsonWriter::~XKJsonWriter() = default;

template <class Char>
bool XKJsonWriter::append(const JsonValue* value, const JsonValue::Array* array,
                          const JsonObject* object, std::basic_string<Char>& into) {
    detail::WriterEngine<Char> engine(*this, into, into.size());
    return engine.run(value, array, object);
}

template <class Char>
std::optional<std::basic_string<Char>> XKJsonWriter::fragment(const JsonValue* value) {
    clearErrorTrace();
    depth_ = 0;
    // Written into the reusable room (and pieces after it), then copied into a string of
    // exactly its size.
    detail::WriterEngine<Char> engine(*this);
    std::optional<std::basic_string<Char>> text;
    if (engine.run(value, nullptr, nullptr))
        engine.withMemory([&] {
            text.emplace(engine.takeText());
            return true;
        });
    return text;
}

template <class Char>
std::optional<std::basic_string<Char>> XKJsonWriter::object(const JsonValue* value) {
    // Follows proxies until a container turns up; the chain is bounded like nested proxies.
    std::optional<JsonValue> held;
    for (std::size_t hops = 0;; ++hops) {
        if (value && value->isContainer()) {
            auto text = fragment<Char>(value);
            // A container given directly keeps the records of its failure; one reached
            // through proxies reports only that the top value was not valid.
            if (text || hops == 0)
                return text;
            break;
        }
        if (!value || !value->isHost() || hops >= kMaxProxyNesting)
            break;
        std::optional<JsonValue> proxy = (*value->asHost())->proxyForJson();
        if (!proxy)
            break;
        held = std::move(*proxy);
        value = &*held;
    }
    clearErrorTrace();
    addError(JsonMessage::NotValidType);
    return std::nullopt;
}

std::optional<std::u16string> XKJsonWriter::stringWithFragment(const JsonValue* value) {
    return fragment<char16_t>(value);
}

std::optional<std::u16string> XKJsonWriter::stringWithObject(const JsonValue* value) {
    return object<char16_t>(value);
}

std::optional<std::string> XKJsonWriter::utf8StringWithFragment(const JsonValue* value) {
    return fragment<char>(value);
}

std::optional<std::string> XKJsonWriter::utf8StringWithObject(const JsonValue* value) {
    return object<char>(value);
}

bool XKJsonWriter::appendValue(const JsonValue& value, std::u16string& into) {
    return append(&value, nullptr, nullptr, into);
}

bool XKJsonWriter::appendValue(const JsonValue& value, std::string& into) {
    return append(&value, nullptr, nullptr, into);
}

bool XKJsonWriter::appendArray(const JsonValue::Array& array, std::u16string& into) {
    return append<char16_t>(nullptr, &array, nullptr, into);
}

bool XKJsonWriter::appendDictionary(const JsonObject& object, std::u16string& into) {
    return append<char16_t>(nullptr, nullptr, &object, into);
}

bool XKJsonWriter::appendString(std::u16string_view string, std::u16string& into) {
    return appendQuoted(*this, string, into);
}

bool XKJsonWriter::appendString(std::u16string_view string, std::string& into) {
    return appendQuoted(*this, string, into);
}

std::u16string XKJsonWriter::indent() const {
    std::u16string text(1 + 2 * static_cast<std::size_t>(depth_), u' ');
    text[0] = u'\n';
    return text;
}

} // namespace brenvo

#undef BRENVO_WRITER_INLINE
