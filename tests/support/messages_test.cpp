#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "support/messages.h"

namespace {

struct Delivery {
    intptr_t value;
    std::string text;
};

std::vector<Delivery> deliveries;

void record(intptr_t value, const char* text) {
    deliveries.push_back({value, text});
}

// Installs the recording hook for one test and always removes it again, so
// that no other test finds its messages redirected.
class MessagesTest : public testing::Test {
  protected:
    void SetUp() override {
        deliveries.clear();
        set_message_hook(7, record);
    }
    void TearDown() override { set_message_hook(0, nullptr); }
};

} // namespace

TEST_F(MessagesTest, ReportsCarryTheirPrefixAndOneLineFeed) {
    report_error("Not EPK2 format.");
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].value, 7);
    EXPECT_EQ(deliveries[0].text, "Error: Not EPK2 format.\n");
    EXPECT_EQ(deliveries[0].text.size(), 24u);

    report_error("Failed to Open \"%s\".", "C:\\game\\Patch.dat");
    report_warning("%d files left", 3);
    report_failure("write \"%s\"", "a.txt");
    log_message("plain %s", "text");
    ASSERT_EQ(deliveries.size(), 5u);
    EXPECT_EQ(deliveries[1].text, "Error: Failed to Open \"C:\\game\\Patch.dat\".\n");
    EXPECT_EQ(deliveries[2].text, "Warning: 3 files left\n");
    EXPECT_EQ(deliveries[3].text, "Error: Failed to write \"a.txt\"\n");
    EXPECT_EQ(deliveries[4].text, "plain text\n");

    // A "%" inside the caller's text is not formatted a second time.
    report_error("%s", "100%s done");
    EXPECT_EQ(deliveries.back().text, "Error: 100%s done\n");

    // Code page 932 bytes pass through untouched.
    report_error("\x83\x5C\x83\x74\x83\x67");
    EXPECT_EQ(deliveries.back().text, "Error: \x83\x5C\x83\x74\x83\x67\n");
}

TEST_F(MessagesTest, RawMessagesGetNoLineFeed) {
    log_message_raw("abc");
    log_message_raw("%s=%u", "n", 5u);
    log_message_raw("%s", "");
    ASSERT_EQ(deliveries.size(), 3u);
    EXPECT_EQ(deliveries[0].text, "abc");
    EXPECT_EQ(deliveries[1].text, "n=5");
    EXPECT_EQ(deliveries[2].text, "");
}

TEST_F(MessagesTest, LongTextsAreCutToTheBuffer) {
    const std::string huge(5000, 'x');

    log_message("%s", huge.c_str());
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].text.size(), MESSAGE_BUFFER_SIZE - 1);
    EXPECT_EQ(deliveries[0].text.back(), '\n'); // still ends the message
    EXPECT_EQ(deliveries[0].text.substr(0, 1022), huge.substr(0, 1022));

    report_error("%s", huge.c_str());
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_EQ(deliveries[1].text.size(), MESSAGE_BUFFER_SIZE - 1);
    EXPECT_EQ(deliveries[1].text.compare(0, 7, "Error: "), 0);
    EXPECT_EQ(deliveries[1].text.back(), '\n');

    log_message_raw("%s", huge.c_str());
    EXPECT_EQ(deliveries[2].text, huge.substr(0, MESSAGE_BUFFER_SIZE - 1));

    // Exactly at the limit nothing is lost.
    const std::string fits(1022, 'y');
    log_message("%s", fits.c_str());
    EXPECT_EQ(deliveries[3].text, fits + "\n");
}

TEST_F(MessagesTest, ReplacingOrClearingTheHookRedirects) {
    set_message_hook(-42, record);
    report_warning("w");
    ASSERT_EQ(deliveries.size(), 1u);
    EXPECT_EQ(deliveries[0].value, -42);

    set_message_hook(0, nullptr);
#if !defined(_WIN32)
    // Without a hook the text goes to the debugger output, which is
    // standard error on this platform.
    testing::internal::CaptureStderr();
#endif
    report_error("Not EPK2 format.");
#if !defined(_WIN32)
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "Error: Not EPK2 format.\n");
#endif
    EXPECT_EQ(deliveries.size(), 1u);

    set_message_hook(9, record);
    log_message("back");
    ASSERT_EQ(deliveries.size(), 2u);
    EXPECT_EQ(deliveries[1].value, 9);
}
