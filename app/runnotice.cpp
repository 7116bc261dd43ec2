#include "app/runnotice.h"

namespace kelvane {

namespace {

std::string Count(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

}  // namespace

std::string RunNoticeText(const std::vector<MailboxRunResult>& results) {
    std::string text;
    auto line = [&text](const std::string& s) {
        if (!text.empty()) text += "\n";
        text += s;
    };
    for (const MailboxRunResult& r : results) {
        const std::string where = r.user + " on " + r.server;
        if (r.deleted > 0)
            line(Count(r.deleted, "junk message", "junk messages") + " deleted from " + where);
        if (r.waiting > 0) line(Count(r.waiting, "message", "messages") + " waiting in " + where);
    }
    return text;
}

}  // namespace kelvane
