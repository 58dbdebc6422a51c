// The JSON log lines written while a test runs, and the text form of one record in them.
#pragma once

#include "brenvo/JSON/JsonLog.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace brenvo {

class LogLines : public ::testing::Test {
protected:
    void SetUp() override {
        setJsonLogHandler([this](std::string_view text) { lines.emplace_back(text); });
    }
    void TearDown() override { setJsonLogHandler(nullptr); }

    static std::string record(JsonErrorCode code, const char* message) {
        return std::string("\"Error Domain=org.brenvo.JSON.ErrorDomain Code=") +
               std::to_string(code) + " \\\"" + message + "\\\"\"";
    }

    std::vector<std::string> lines;
};

} // namespace brenvo
