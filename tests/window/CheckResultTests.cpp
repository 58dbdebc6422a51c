// The answer to "Check for Updates…" for every way a check can end without a release window.
#include "brenvo/CheckResultMessage.h"
#include "support/TestServices.h"

#include <gtest/gtest.h>

namespace {

using brenvo::CheckOutcome;
using Kind = brenvo::CheckOutcome::Kind;

TEST(CheckResultTexts, EachEndingHasItsMessage) {
    brenvo::test::TestServices test;
    const std::string failed = "The check for updates did not succeed";
    const struct {
        Kind kind;
        bool storeReached;
        std::string message, detail;
    } cases[] = {
        {Kind::UpToDate, false, "Your version is current",
         "Brenvo Test 1.0 is the newest version in the App Store."},
        {Kind::HeldBack, false, "Your version is current",
         "Brenvo Test 1.0 is the newest version in the App Store."},
        {Kind::NoReply, false, failed, "There is no connection to the App Store."},
        {Kind::NoReply, true, failed, "The App Store did not answer."},
        {Kind::UnusableReply, true, failed, "The App Store's reply could not be used."},
        {Kind::RateLimited, true, failed, "The App Store is busy. Please try again later."},
        {Kind::Disabled, false, failed, "Checks for updates are turned off on this computer."},
        {Kind::Managed, false, failed,
         "The updates of this application come from its package manager."},
        {Kind::NotConfigured, false, failed,
         "This application does not say where to look for updates."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.detail);
        CheckOutcome outcome;
        outcome.kind = c.kind;
        outcome.storeReached = c.storeReached;
        const auto texts = brenvo::checkResultTexts(outcome, test.mainBundle);
        ASSERT_TRUE(texts);
        EXPECT_EQ(texts->windowTitle, "Software Update");
        EXPECT_EQ(texts->messageText, c.message);
        EXPECT_EQ(texts->informativeText, c.detail);
        EXPECT_EQ(texts->buttonTitle, "OK");
        EXPECT_EQ(texts->failed, c.message == failed);
    }
    // The release window answers these, or nothing does.
    for (const Kind kind : {Kind::UpdateAvailable, Kind::Skipped}) {
        CheckOutcome outcome;
        outcome.kind = kind;
        EXPECT_FALSE(brenvo::checkResultTexts(outcome, test.mainBundle));
    }
}

} // namespace
