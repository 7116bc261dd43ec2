#include "mail/agras.h"
#include "support/pop3script.h"

#include <gtest/gtest.h>

using namespace kelvane;

namespace {
using RecordingPrompts = test::ScriptedPrompts;
}  // namespace

TEST(TagRas, NoDialUpOnThisSystem) {
    RecordingPrompts prompts;
    TagRas ras(&prompts);
    EXPECT_TRUE(ras.Entries().empty());
    ras.SetService("My ISP");
    EXPECT_EQ(ras.Service(), "");
    EXPECT_EQ(prompts.shown, std::vector<std::string>{
                                 "TagRas component was unable to detect\nRAS on your system."});
    ras.SetService("");
    EXPECT_EQ(prompts.shown.size(), 1u);

    bool disconnected = false;
    ras.OnDisconnected = [&](TagRas&) { disconnected = true; };
    ras.Connect();
    EXPECT_TRUE(ras.Connected());
    ras.HangUp();
    EXPECT_FALSE(ras.Connected());
    EXPECT_FALSE(disconnected);  // nothing was dialled, so nothing is hung up
}
