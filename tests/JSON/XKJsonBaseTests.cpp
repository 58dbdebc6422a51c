#include "brenvo/JSON/XKJsonBase.h"
#include "brenvo/JSON/XKJsonParser.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace brenvo {
namespace {

TEST(XKJsonBase, ClearAnnouncesEvenWithoutTrace) {
    XKJsonBase base;
    std::vector<std::pair<std::string, bool>> announcements;
    base.setErrorTraceObserver([&](std::string_view key, bool willChange) {
        // During the announcement the trace is still as before (will) or already new (did).
        announcements.emplace_back(std::string(key), willChange);
    });
    base.clearErrorTrace();
    EXPECT_FALSE(base.errorTrace().has_value());
    using A = std::vector<std::pair<std::string, bool>>;
    EXPECT_EQ(announcements, (A{{"errorTrace", true}, {"errorTrace", false}}));

    announcements.clear();
    base.addErrorWithCode(JsonErrorSyntax, "one");
    EXPECT_EQ(announcements, (A{{"errorTrace", true}, {"errorTrace", false}}));

    base.setErrorTraceObserver(nullptr);
    base.addErrorWithCode(JsonErrorSyntax, "two");
    EXPECT_EQ(announcements.size(), 2u);
}

TEST(XKJsonBase, RecordsChainOldestFirst) {
    XKJsonBase base;
    base.addErrorWithCode(JsonErrorEndOfInput, "first");
    JsonErrorTrace one = base.errorTrace();
    ASSERT_TRUE(one);
    ASSERT_EQ(one->size(), 1u);
    EXPECT_EQ(one->at(0)->underlying(), nullptr);
    EXPECT_EQ(one->at(0)->domain(), "org.brenvo.JSON.ErrorDomain");
    EXPECT_EQ(one->at(0)->domain(), XKJSONErrorDomain);

    base.addErrorWithCode(JsonErrorSyntax, "second");
    JsonErrorTrace two = base.errorTrace();
    ASSERT_EQ(two->size(), 2u);
    EXPECT_EQ(two->at(1)->underlying(), two->at(0));
    EXPECT_EQ(two->at(1)->code(), JsonErrorSyntax);
    EXPECT_EQ(two->at(1)->message(), "second");
    EXPECT_EQ(one->size(), 1u); // an earlier copy is not altered

    base.clearErrorTrace();
    EXPECT_FALSE(base.errorTrace());
    EXPECT_EQ(two->size(), 2u);
    EXPECT_EQ(two->at(0)->message(), "first");

    base.addErrorWithCode(JsonErrorNumber, "after clear");
    ASSERT_EQ(base.errorTrace()->size(), 1u);
    EXPECT_EQ(base.errorTrace()->at(0)->underlying(), nullptr);

    EXPECT_EQ(describeTrace(*two), "(\"Error Domain=org.brenvo.JSON.ErrorDomain Code=11 "
                                   "\\\"first\\\"\", \"Error Domain=org.brenvo.JSON.ErrorDomain "
                                   "Code=3 \\\"second\\\"\")");
    EXPECT_EQ(describeTrace({}), "()");
}

// The records a loop reads over the trace an accessor returns live as long as the loop.
TEST(XKJsonBase, LoopOverTheReturnedTrace) {
    XKJsonParser parser;
    EXPECT_FALSE(parser.objectWithString("[[1,]]"));
    std::vector<std::string> messages;
    for (const JsonErrorRef& record : *parser.errorTrace())
        messages.push_back(record->message());
    for (const JsonErrorRef& record : parser.errorTrace().value())
        messages.push_back(record->message());
    const std::vector<std::string> once = {"Trailing comma disallowed in array",
                                           "Expected value while parsing array"};
    std::vector<std::string> twice = once;
    twice.insert(twice.end(), once.begin(), once.end());
    EXPECT_EQ(messages, twice);
}

TEST(XKJsonBase, LongChainReleasesWithoutRecursion) {
    JsonErrorRef last;
    for (int i = 0; i < 400'000; ++i)
        last = std::make_shared<const JsonError>(XKJSONErrorDomain, JsonErrorSyntax, "x",
                                                 std::move(last));
    JsonErrorRef middle = last;
    for (int i = 0; i < 200'000; ++i)
        middle = middle->underlying();
    last.reset(); // releases the newer half; `middle` keeps the older half alive
    EXPECT_EQ(middle.use_count(), 1);
    EXPECT_NE(middle->underlying(), nullptr);
    middle.reset();
}

} // namespace
} // namespace brenvo
