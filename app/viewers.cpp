#include "app/viewers.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "app/listcommands.h"
#include "base/fileio.h"
#include "base/text.h"

namespace kelvane {

namespace {

std::string InFolder(const std::string& folder, const std::string& name) {
    if (folder.empty() || folder.back() == '/') return folder + name;
    return folder + "/" + name;
}

}  // namespace

std::vector<std::string> HeaderViewLines(const MessageList& list, const TmsRemoteInfo& info,
                                         const std::vector<std::size_t>& selected) {
    std::vector<std::string> lines;
    for (std::size_t i : selected) {
        if (i >= list.Count()) continue;
        const MessageRow& row = list.Rows()[i];
        lines.emplace_back(kHeaderSeparator);
        lines.push_back("Subject : " + row.subject + " Sender : " + row.sender);
        lines.emplace_back(kHeaderSeparator);
        if (i < info.Count())
            for (const std::string& line : info.Item(i).Headers.Lines())
                lines.push_back(line);
    }
    return lines;
}

std::string EMLFileName(int pos) {
    return "msg_" + std::to_string(pos) + ".eml";
}

void CleanUpEMLFiles(const std::string& folder) {
    for (int n = 0; n <= 100; ++n)
        std::remove(InFolder(folder, EMLFileName(n)).c_str());
}

std::optional<std::string> LargeMessageQuestion(std::string_view sizeText) {
    std::int64_t size = 0;
    if (!ParseOctetCount(TrimView(sizeText), size) || size <= kLargeMessageSize)
        return std::nullopt;
    return "The message you have selected to view is quite large - " + std::to_string(size) +
           " bytes. Are you sure you wish to download and view it?";
}

std::string UnframeMessage(std::string_view saved) {
    std::string out;
    out.reserve(saved.size());
    std::size_t start = 0;
    while (start < saved.size()) {
        std::size_t end = saved.find('\n', start);
        end = end == std::string_view::npos ? saved.size() : end + 1;
        std::string_view line = saved.substr(start, end - start);
        start = end;
        std::string_view text = line;
        if (text.ends_with('\n')) text.remove_suffix(1);
        if (text.ends_with('\r')) text.remove_suffix(1);
        // The lone dot ends the block; it is not a line of the message.
        if (text == "." && start >= saved.size()) break;
        if (line.starts_with('.')) line.remove_prefix(1);
        out += line;
    }
    return out;
}

void LoadSavedMessage(TmsMessage& msg, const std::string& path) {
    msg.Clear();
    FileContent file = ReadWholeFile(path);
    if (file.status != ReadStatus::Ok) {
        const std::string why =
            file.status == ReadStatus::Missing ? std::strerror(ENOENT) : file.error;
        throw KelvaneError("Cannot open file \"" + path + "\". " + why);
    }
    msg.LoadFromText(UnframeMessage(file.data));
}

void FetchMessage(TmsRemotePOP& pop, int pos, const std::string& folder, CheckView& view) {
    TmsRemoteInfo& info = pop.Info();
    if (pos < 0 || static_cast<std::size_t>(pos) >= info.Count())
        throw KelvaneError(std::string(kTextIdsDifferent));

    // The events are the fetch's only while it runs; the check binds its own.
    struct Scope {
        TmsRemotePOP& pop;
        TmsCustomPOP::NumNotify retrieving = pop.OnRetrieving;
        TmsCustomPOP::NumNotify retrieved = pop.OnRetrieved;
        TmsRemotePOP::SaveNotify save = pop.OnUserMessageSave;
        void ClearAll() {
            for (std::size_t i = 0; i < pop.Info().Count(); ++i)
                pop.ClearMarks(static_cast<int>(i));
        }
        ~Scope() {
            ClearAll();
            pop.OnRetrieving = retrieving;
            pop.OnRetrieved = retrieved;
            pop.OnUserMessageSave = save;
        }
    } scope{pop};
    // A deletion that failed leaves its marks behind; this session must
    // fetch one message and delete none.
    scope.ClearAll();

    pop.OnRetrieving = [&view](TmsCustomPOP&, int num) {
        view.Status("Retrieving " + std::to_string(num + 1));
    };
    pop.OnRetrieved = [&view](TmsCustomPOP&, int num) {
        view.Status("Message " + std::to_string(num + 1) + " retrieved");
    };
    pop.OnUserMessageSave = [](TmsRemotePOP& sender, int num, std::string& contents) {
        const std::string path = sender.MessageDirectory() + EMLFileName(num);
        if (const auto error = WriteFileAtomic(path, contents, 0600))
            throw StoreError("Cannot create file " + path + ": " + *error);
    };
    pop.SetMessageDirectory(folder);
    pop.MarkForRetrieve(pos);
    try {
        pop.ProcessMarks();
    } catch (...) {
        // A session left open after a refusal would keep the mailbox locked
        // against the next one. Dropped without QUIT, it commits nothing.
        if (pop.Connected()) pop.Close();
        throw;
    }
}

std::optional<std::vector<std::string>> ViewMessages1Click(
    BodyViewContext& ctx, const std::vector<std::size_t>& selected) {
    if (selected.empty() || selected.front() >= ctx.list.Count()) {
        ctx.list.NadaSelected(ctx.prompts);
        return std::nullopt;
    }
    if (selected.size() > 1) ctx.prompts.Information(std::string(kMoreThanOneSelectedText));
    const std::size_t row = selected.front();
    if (const auto question = LargeMessageQuestion(ctx.list.Rows()[row].size))
        if (!ctx.prompts.Confirm(*question)) return std::nullopt;
    // Row i must be record i, or the message fetched is not the one shown.
    if (ctx.list.Count() != ctx.pop.Info().Count())
        throw KelvaneError(std::string(kTextIdsDifferent));

    const int pos = static_cast<int>(row);
    if (ctx.fetching) ctx.fetching(true);
    try {
        FetchMessage(ctx.pop, pos, ctx.folder, ctx.view);
    } catch (...) {
        if (ctx.fetching) ctx.fetching(false);
        throw;
    }
    if (ctx.fetching) ctx.fetching(false);
    TmsMessage msg;
    LoadSavedMessage(msg, ctx.pop.MessageDirectory() + EMLFileName(pos));
    return std::move(msg.Body);
}

}  // namespace kelvane
