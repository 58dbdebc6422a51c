// Command-line options of the form "--name VALUE", "--name=VALUE" and "--flag".
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace brenvo::tool {

struct Arguments {
    std::map<std::string, std::string> values; // options with a value, by name without "--"
    std::set<std::string> flags;               // options without a value
    std::vector<std::string> positional;
    bool help = false; // -h or --help was given

    std::optional<std::string> value(const std::string& name) const;
};

// Parses `args` (the words after the command). `valueOptions` and `flagOptions` name the
// options the command takes; `shortNames` maps a letter to the option "-<letter>" stands for.
// Nullopt with `error` set for an unknown option, a missing value or an option given twice.
std::optional<Arguments> parseArguments(const std::vector<std::string>& args,
                                        const std::set<std::string>& valueOptions,
                                        const std::set<std::string>& flagOptions,
                                        const std::map<char, std::string>& shortNames,
                                        std::string& error);

} // namespace brenvo::tool
