#include "support/pop3script.h"

#include <gtest/gtest.h>
#include <poll.h>

namespace kelvane::test {

const FastClock kFastClock;

FakeServer& ScriptLogin(FakeServer& srv, const std::string& user, const std::string& password,
                        const std::string& statReply) {
    return srv.Send("+OK POP3 ready\r\n")
        .Expect("USER " + user)
        .Send("+OK\r\n")
        .Expect("PASS " + password)
        .Send("+OK logged in\r\n")
        .Expect("STAT")
        .Send(statReply + "\r\n");
}

short SleepCounter::Wait(int fd, short events, int timeoutMs) {
    pollfd p{fd, events, 0};
    if (::poll(&p, 1, timeoutMs) > 0) return p.revents;
    // A sleep cut short by the coming second says nothing.
    if (timeoutMs >= 100) ++overslept;
    return 0;
}

void ScriptedPrompts::Information(const std::string& text) {
    shown.push_back(text);
    asked.push_back("info:" + text);
}

bool ScriptedPrompts::Confirm(const std::string& text) {
    shown.push_back(text);
    asked.push_back("confirm:" + text);
    if (answers_.empty()) {
        ADD_FAILURE() << "asked to confirm without a scripted answer: " << text;
        return false;
    }
    const bool yes = answers_.front();
    answers_.pop_front();
    return yes;
}

}  // namespace kelvane::test
