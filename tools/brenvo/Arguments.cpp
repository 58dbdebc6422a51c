#include "Arguments.h"

namespace brenvo::tool {

std::optional<std::string> Arguments::value(const std::string& name) const {
    auto found = values.find(name);
    if (found == values.end())
        return std::nullopt;
    return found->second;
}

std::optional<Arguments> parseArguments(const std::vector<std::string>& args,
                                        const std::set<std::string>& valueOptions,
                                        const std::set<std::string>& flagOptions,
                                        const std::map<char, std::string>& shortNames,
                                        std::string& error) {
    Arguments parsed;
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        std::string word = args[i];
        if (auto shortName =
                word.size() == 2 && word[0] == '-' ? shortNames.find(word[1]) : shortNames.end();
            !optionsEnded && shortName != shortNames.end())
            word = "--" + shortName->second;
        if (optionsEnded || word.size() < 2 || word[0] != '-' || (word[1] != '-' && word != "-h")) {
            parsed.positional.push_back(word);
            continue;
        }
        if (word == "--") {
            optionsEnded = true;
            continue;
        }
        if (word == "-h" || word == "--help") {
            parsed.help = true;
            continue;
        }
        std::string name = word.substr(2);
        std::optional<std::string> inlineValue;
        if (auto equals = name.find('='); equals != std::string::npos) {
            inlineValue = name.substr(equals + 1);
            name.resize(equals);
        }
        if (flagOptions.count(name)) {
            if (inlineValue) {
                error = "option --" + name + " takes no value";
                return std::nullopt;
            }
            parsed.flags.insert(name);
            continue;
        }
        if (!valueOptions.count(name)) {
            error = "unknown option --" + name;
            return std::nullopt;
        }
        if (parsed.values.count(name)) {
            error = "option --" + name + " given twice";
            return std::nullopt;
        }
        if (inlineValue) {
            parsed.values[name] = *inlineValue;
        } else if (i + 1 < args.size()) {
            parsed.values[name] = args[++i];
        } else {
            error = "option --" + name + " needs a value";
            return std::nullopt;
        }
    }
    return parsed;
}

} // namespace brenvo::tool
