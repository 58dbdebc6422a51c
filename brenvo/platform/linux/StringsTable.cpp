#include "brenvo/platform/linux/StringsTable.h"

#include "brenvo/platform/Log.h"
#include "brenvo/platform/Text.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace brenvo::platform {
namespace {

// Tables larger than this are refused rather than read into memory.
constexpr std::uintmax_t kMaxTableSize = 8u * 1024u * 1024u;

bool isSurrogate(char32_t c) {
    return c >= 0xD800 && c <= 0xDFFF;
}

// Decodes strict UTF-8 (no overlong forms, no surrogates, nothing above U+10FFFF).
bool decodeUtf8(std::span<const uint8_t> in, std::u32string& out, std::string* error) {
    size_t i = 0;
    size_t line = 1;
    while (i < in.size()) {
        uint8_t b = in[i];
        if (b < 0x80) {
            out += static_cast<char32_t>(b);
            if (b == '\n')
                ++line;
            ++i;
            continue;
        }
        int extra;
        char32_t c;
        char32_t min;
        if ((b & 0xE0) == 0xC0) {
            extra = 1, c = b & 0x1F, min = 0x80;
        } else if ((b & 0xF0) == 0xE0) {
            extra = 2, c = b & 0x0F, min = 0x800;
        } else if ((b & 0xF8) == 0xF0) {
            extra = 3, c = b & 0x07, min = 0x10000;
        } else {
            extra = -1, c = 0, min = 0;
        }
        bool ok = extra > 0 && i + static_cast<size_t>(extra) < in.size();
        if (ok) {
            for (int k = 1; k <= extra; ++k) {
                uint8_t cont = in[i + static_cast<size_t>(k)];
                if ((cont & 0xC0) != 0x80) {
                    ok = false;
                    break;
                }
                c = (c << 6) | (cont & 0x3F);
            }
        }
        if (!ok || c < min || c > 0x10FFFF || isSurrogate(c)) {
            if (error)
                *error = "line " + std::to_string(line) + ": invalid UTF-8";
            return false;
        }
        out += c;
        i += static_cast<size_t>(extra) + 1;
    }
    return true;
}

bool decodeUtf16(std::span<const uint8_t> in, bool bigEndian, std::u32string& out,
                 std::string* error) {
    size_t line = 1;
    auto fail = [&](const char* what) {
        if (error)
            *error = "line " + std::to_string(line) + ": " + what;
        return false;
    };
    if (in.size() % 2 != 0)
        return fail("UTF-16 text of odd length");
    auto unit = [&](size_t i) -> char16_t {
        return bigEndian ? static_cast<char16_t>((in[i] << 8) | in[i + 1])
                         : static_cast<char16_t>((in[i + 1] << 8) | in[i]);
    };
    for (size_t i = 0; i < in.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF) {
            if (i + 2 >= in.size())
                return fail("unpaired UTF-16 surrogate");
            char32_t low = unit(i + 2);
            if (low < 0xDC00 || low > 0xDFFF)
                return fail("unpaired UTF-16 surrogate");
            c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
            i += 2;
        } else if (c >= 0xDC00 && c <= 0xDFFF) {
            return fail("unpaired UTF-16 surrogate");
        }
        if (c == '\n')
            ++line;
        out += c;
    }
    return true;
}

bool isBareWordChar(char32_t c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c == '$' || c == '/' || c == ':' || c == '.' || c == '-';
}

int hexDigit(char32_t c) {
    if (c >= '0' && c <= '9')
        return static_cast<int>(c - '0');
    if (c >= 'a' && c <= 'f')
        return static_cast<int>(c - 'a' + 10);
    if (c >= 'A' && c <= 'F')
        return static_cast<int>(c - 'A' + 10);
    return -1;
}

class Parser {
public:
    Parser(const std::u32string& text, std::string* error) : text_(text), error_(error) {}

    std::optional<std::map<std::string, std::string, std::less<>>> parse() {
        std::map<std::string, std::string, std::less<>> entries;
        for (;;) {
            if (!skipSpaceAndComments())
                return std::nullopt;
            if (pos_ >= text_.size())
                return entries;
            std::string key;
            if (!scanToken(key, "a key"))
                return std::nullopt;
            if (!skipSpaceAndComments())
                return std::nullopt;
            std::string value;
            if (peek() == U'=') {
                ++pos_;
                if (!skipSpaceAndComments())
                    return std::nullopt;
                if (!scanToken(value, "a value after '='"))
                    return std::nullopt;
                if (!skipSpaceAndComments())
                    return std::nullopt;
            } else {
                value = key;
            }
            if (peek() != U';')
                return fail("missing ';' after entry");
            ++pos_;
            entries.insert_or_assign(std::move(key), std::move(value));
        }
    }

private:
    char32_t peek() const { return pos_ < text_.size() ? text_[pos_] : char32_t{0xFFFFFFFF}; }

    std::nullopt_t fail(const std::string& what) {
        if (error_)
            *error_ = "line " + std::to_string(line_) + ": " + what;
        return std::nullopt;
    }

    char32_t next() {
        char32_t c = text_[pos_++];
        if (c == U'\n')
            ++line_;
        return c;
    }

    bool skipSpaceAndComments() {
        while (pos_ < text_.size()) {
            char32_t c = text_[pos_];
            if (c == U' ' || c == U'\t' || c == U'\n' || c == U'\r' || c == U'\f' || c == U'\v' ||
                c == 0xFEFF || c == 0x2028 || c == 0x2029 || c == 0xA0) {
                next();
            } else if (c == U'/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == U'*') {
                size_t startLine = line_;
                pos_ += 2;
                for (;;) {
                    if (pos_ + 1 >= text_.size()) {
                        line_ = startLine;
                        fail("unterminated comment");
                        return false;
                    }
                    if (text_[pos_] == U'*' && text_[pos_ + 1] == U'/') {
                        pos_ += 2;
                        break;
                    }
                    next();
                }
            } else if (c == U'/' && pos_ + 1 < text_.size() && text_[pos_ + 1] == U'/') {
                while (pos_ < text_.size() && text_[pos_] != U'\n')
                    ++pos_;
            } else {
                break;
            }
        }
        return true;
    }

    // A quoted string or a bare word.
    bool scanToken(std::string& out, const char* what) {
        char32_t c = peek();
        if (c == U'"')
            return scanQuoted(out);
        if (pos_ < text_.size() && isBareWordChar(c)) {
            while (pos_ < text_.size() && isBareWordChar(text_[pos_]))
                appendUTF8(out, next());
            return true;
        }
        if (pos_ >= text_.size())
            fail(std::string("expected ") + what + " but the file ends");
        else
            fail(std::string("expected ") + what);
        return false;
    }

    bool scanHex4(char32_t& out) {
        if (pos_ + 4 > text_.size())
            return false;
        char32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            int d = hexDigit(text_[pos_ + static_cast<size_t>(k)]);
            if (d < 0)
                return false;
            v = (v << 4) | static_cast<char32_t>(d);
        }
        pos_ += 4;
        out = v;
        return true;
    }

    bool scanQuoted(std::string& out) {
        size_t startLine = line_;
        ++pos_; // opening quote
        for (;;) {
            if (pos_ >= text_.size()) {
                line_ = startLine;
                fail("unterminated string");
                return false;
            }
            char32_t c = next();
            if (c == U'"')
                return true;
            if (c != U'\\') {
                appendUTF8(out, c);
                continue;
            }
            if (pos_ >= text_.size()) {
                line_ = startLine;
                fail("unterminated string");
                return false;
            }
            char32_t e = next();
            switch (e) {
            case U'n':
                out += '\n';
                break;
            case U't':
                out += '\t';
                break;
            case U'r':
                out += '\r';
                break;
            case U'a':
                out += '\a';
                break;
            case U'b':
                out += '\b';
                break;
            case U'f':
                out += '\f';
                break;
            case U'v':
                out += '\v';
                break;
            case U'0':
                out += '\0';
                break;
            case U'U':
            case U'u': {
                char32_t unit;
                if (!scanHex4(unit)) {
                    fail("\\U needs four hex digits");
                    return false;
                }
                if (unit >= 0xD800 && unit <= 0xDBFF) {
                    char32_t low;
                    if (pos_ + 1 < text_.size() && text_[pos_] == U'\\' &&
                        (text_[pos_ + 1] == U'U' || text_[pos_ + 1] == U'u')) {
                        pos_ += 2;
                        if (!scanHex4(low)) {
                            fail("\\U needs four hex digits");
                            return false;
                        }
                        if (low < 0xDC00 || low > 0xDFFF) {
                            fail("unpaired surrogate in \\U escape");
                            return false;
                        }
                        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
                    } else {
                        fail("unpaired surrogate in \\U escape");
                        return false;
                    }
                } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
                    fail("unpaired surrogate in \\U escape");
                    return false;
                }
                appendUTF8(out, unit);
                break;
            }
            default: // \" \\ \' and any other character stand for themselves
                appendUTF8(out, e);
                break;
            }
        }
    }

    const std::u32string& text_;
    std::string* error_;
    size_t pos_ = 0;
    size_t line_ = 1;
};

std::string normalizeLanguage(std::string_view name) {
    std::string lang(name.substr(0, name.find_first_of(".@")));
    if (lang == "C" || lang == "POSIX")
        return {};
    // Only plain names can become folder names: no path separators or dots.
    for (char c : lang) {
        bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                  c == '_' || c == '-';
        if (!ok)
            return {};
    }
    return lang;
}

void logOnce(Log* log, const std::filesystem::path& file, const std::string& why) {
    if (log)
        log->write("Brenvo: Cannot read strings table " + file.string() + " (" + why +
                   "); using the untranslated texts.");
}

} // namespace

std::optional<std::map<std::string, std::string, std::less<>>>
parseStringsFile(std::span<const uint8_t> bytes, std::string* error) {
    std::u32string text;
    bool decoded;
    if (bytes.size() >= 2 && bytes[0] == 0xFF && bytes[1] == 0xFE) {
        decoded = decodeUtf16(bytes.subspan(2), false, text, error);
    } else if (bytes.size() >= 2 && bytes[0] == 0xFE && bytes[1] == 0xFF) {
        decoded = decodeUtf16(bytes.subspan(2), true, text, error);
    } else if (bytes.size() >= 3 && bytes[0] == 0xEF && bytes[1] == 0xBB && bytes[2] == 0xBF) {
        decoded = decodeUtf8(bytes.subspan(3), text, error);
    } else {
        decoded = decodeUtf8(bytes, text, error);
    }
    if (!decoded)
        return std::nullopt;
    return Parser(text, error).parse();
}

std::vector<std::string> preferredLanguages() {
    std::vector<std::string> out;
    auto add = [&](std::string_view name) {
        std::string lang = normalizeLanguage(name);
        if (!lang.empty())
            out.push_back(std::move(lang));
    };
    if (const char* list = std::getenv("LANGUAGE")) {
        std::string_view rest(list);
        while (!rest.empty()) {
            size_t colon = rest.find(':');
            add(rest.substr(0, colon));
            if (colon == std::string_view::npos)
                break;
            rest.remove_prefix(colon + 1);
        }
    }
    for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* v = std::getenv(var);
        if (v && *v) {
            add(v);
            break;
        }
    }
    out.push_back("en");
    return out;
}

std::vector<std::string> localizationCandidates(const std::vector<std::string>& languages) {
    std::vector<std::string> out;
    auto add = [&](std::string name) {
        if (name.empty() || name == "en")
            return;
        for (const auto& have : out)
            if (have == name)
                return;
        out.push_back(std::move(name));
    };
    for (const auto& lang : languages) {
        add(lang);
        size_t sep = lang.find_first_of("_-");
        if (sep != std::string::npos) {
            std::string other = lang;
            other[sep] = other[sep] == '_' ? '-' : '_';
            add(other);
            // Chinese folders are named by script as often as by region.
            if (lang.compare(0, sep, "zh") == 0) {
                std::string region = lang.substr(sep + 1);
                if (region == "CN" || region == "SG")
                    add("zh-Hans");
                else if (region == "TW" || region == "HK" || region == "MO")
                    add("zh-Hant");
            }
            add(lang.substr(0, sep));
        }
    }
    out.push_back("en");
    return out;
}

namespace {

// The entry for `key` in the table file, or nullopt when the file is missing, unusable (which is
// reported) or lacks the key.
std::optional<std::string> lookUp(const std::filesystem::path& file, std::string_view key,
                                  Log* log) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(file, ec))
        return std::nullopt;
    std::uintmax_t size = std::filesystem::file_size(file, ec);
    if (ec) {
        logOnce(log, file, ec.message());
        return std::nullopt;
    }
    if (size > kMaxTableSize) {
        logOnce(log, file, "larger than 8 MiB");
        return std::nullopt;
    }
    std::ifstream in(file, std::ios::binary);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    if (!in || !in.read(reinterpret_cast<char*>(bytes.data()),
                        static_cast<std::streamsize>(bytes.size()))) {
        logOnce(log, file, "read error");
        return std::nullopt;
    }
    std::string error;
    auto entries = parseStringsFile(bytes, &error);
    if (!entries) {
        logOnce(log, file, error);
        return std::nullopt;
    }
    if (auto it = entries->find(key); it != entries->end())
        return it->second;
    return std::nullopt;
}

bool isPlainTableName(std::string_view table) {
    return !table.empty() && table.find('/') == std::string_view::npos && table != "." &&
           table != "..";
}

// "de_AT" and "de-at" alike, for comparing language names.
std::string languageKey(std::string_view name) {
    std::string out(name);
    for (char& c : out) {
        if (c == '_')
            c = '-';
        else if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
}

// The framework's folder for a language name: its own name, or the table of its script or
// region that the framework keeps ("zh-CN" is "zh-Hans", plain "pt" is "pt-BR").
std::string frameworkLanguage(const std::string& lang) {
    const std::string key = languageKey(lang);
    if (key == "zh" || key == "zh-cn" || key == "zh-sg" || key.rfind("zh-hans", 0) == 0)
        return "zh-Hans";
    if (key == "zh-tw" || key == "zh-hk" || key == "zh-mo" || key.rfind("zh-hant", 0) == 0)
        return "zh-Hant";
    if (key == "pt")
        return "pt-BR";
    return lang;
}

} // namespace

std::string localizedStringFromTable(const std::filesystem::path& resourcesDir,
                                     std::string_view table, std::string_view key,
                                     std::string_view value, Log* log) {
    if (isPlainTableName(table) && !resourcesDir.empty()) {
        for (const auto& lang : localizationCandidates(preferredLanguages())) {
            if (auto text = lookUp(
                    resourcesDir / (lang + ".lproj") / (std::string(table) + ".strings"), key, log))
                return *text;
        }
    }
    return std::string(value.empty() ? key : value);
}

std::string localizedStringFromTables(const std::filesystem::path& resourcesDir,
                                      const std::vector<std::string>& hostLocalizations,
                                      const std::filesystem::path& frameworkResourcesDir,
                                      std::string_view table, std::string_view key,
                                      std::string_view value, Log* log) {
    if (!isPlainTableName(table))
        return std::string(value.empty() ? key : value);
    const std::string file = std::string(table) + ".strings";
    for (const auto& lang : localizationCandidates(preferredLanguages())) {
        std::error_code ec;
        const std::filesystem::path folder =
            resourcesDir.empty() ? std::filesystem::path() : resourcesDir / (lang + ".lproj");
        if (!folder.empty()) {
            if (auto text = lookUp(folder / file, key, log))
                return *text;
        }
        if (frameworkResourcesDir.empty())
            continue;
        bool localised = !folder.empty() && std::filesystem::is_directory(folder, ec);
        for (const auto& listed : hostLocalizations)
            localised = localised || languageKey(listed) == languageKey(lang);
        if (!localised)
            continue;
        if (auto text = lookUp(frameworkResourcesDir / (frameworkLanguage(lang) + ".lproj") / file,
                               key, log))
            return *text;
    }
    return std::string(value.empty() ? key : value);
}

} // namespace brenvo::platform
