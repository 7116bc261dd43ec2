#include "mail/pipeline.h"

#include <algorithm>
#include <cstring>

namespace kelvane {

bool TmsCustomPOP::Pipeline::HasRoom(std::size_t count, std::size_t bytesEach) const {
    return owed_.size() + count <= kMaxCommands && outBytes_ + count * bytesEach <= kMaxBytes;
}

void TmsCustomPOP::Pipeline::Send(std::string_view command, bool block) {
    if (command.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos)
        pop_.RaiseErrorId(kErrCommandBreak);
    out_.append(command);
    out_ += "\r\n";
    owed_.push_back({command.size() + 2, block});
    outBytes_ += command.size() + 2;
}

bool TmsCustomPOP::Pipeline::Fill() {
    // Read bytes are dropped from the front only now and then: a whole
    // window of replies is often in one buffer.
    if (at_ > TagSocket::kDataChunk && at_ * 2 > in_.size()) {
        in_.erase(0, at_);
        at_ = 0;
    }
    return pop_.Exchange(out_, in_) > 0;
}

void TmsCustomPOP::Pipeline::Consume(std::size_t bytes) {
    at_ += bytes;
    if (at_ == in_.size()) {
        in_.clear();
        at_ = 0;
    }
}

int TmsCustomPOP::Pipeline::ReadReply() {
    const Owed owed = owed_.front();
    owed_.pop_front();
    outBytes_ -= owed.bytes;
    pop_.SetLastReply({});
    blockNext_ = false;
    std::size_t searched = 0;
    for (;;) {
        const std::string_view buffered = Buffered();
        const std::size_t lf = buffered.find('\n', searched);
        if (lf != std::string_view::npos && lf <= kMaxReplyLine) {
            std::string line(buffered.substr(0, lf));
            Consume(lf + 1);
            while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
                line.pop_back();
            const int code = pop_.ReplyCode(line);
            pop_.SetLastReply(std::move(line));
            blockNext_ = owed.block && code == 1;
            return code;
        }
        // The rest of this line would be read as the next reply.
        if (buffered.size() > kMaxReplyLine)
            pop_.RaiseAndClose(kErrLineTooLong, std::string(kTextLineTooLong));
        searched = buffered.size();
        if (!Fill()) return -1;
    }
}

std::size_t TmsCustomPOP::Pipeline::ReadData(std::string& block, std::size_t limit,
                                             std::size_t keep) {
    blockNext_ = false;
    const std::size_t start = block.size();
    std::size_t taken = 0;  // bytes of the block moved out of the buffer
    if (pop_.OnProgress) pop_.OnProgress(pop_, -1, 0);
    for (;;) {
        // The block ends at the first "." line; what follows is the next reply.
        const std::string_view buffered = Buffered();
        std::size_t end = std::string_view::npos;
        if (taken == 0 && buffered.starts_with(".\r\n")) {
            end = 3;
        } else {
            const std::size_t at = buffered.find("\r\n.\r\n");
            if (at != std::string_view::npos) end = at + 5;
        }
        const std::size_t have = end != std::string_view::npos ? end : buffered.size();
        if (taken + have > limit) {
            block.resize(start);
            pop_.RaiseAndClose(kErrReplyTooLarge, std::string(kTextReplyTooLarge));
        }
        // The buffer keeps only the bytes an end marker may still begin in,
        // so a long block is never held whole.
        const std::size_t move =
            end != std::string_view::npos ? end : (have > 4 ? have - 4 : std::size_t{0});
        const std::size_t kept = block.size() - start;
        if (kept < keep) block.append(buffered.substr(0, std::min(move, keep - kept)));
        taken += move;
        Consume(move);
        if (end != std::string_view::npos) return taken;
        if (!Fill()) {
            // Cut off inside the block: nothing more will come.
            pop_.SetLastReply({});
            throw ServerError("");
        }
        if (pop_.OnProgress)
            pop_.OnProgress(pop_, -1, static_cast<std::int64_t>(taken + Buffered().size()));
    }
}

std::string TmsCustomPOP::Pipeline::UnreadLine() const {
    std::string_view line = Buffered().substr(0, std::min(Buffered().find('\n'), kMaxReplyLine));
    while (!line.empty() && (line.back() == '\r' || line.back() == '\n'))
        line.remove_suffix(1);
    return std::string(line);
}

void TmsCustomPOP::Pipeline::Drain() {
    std::string dropped;
    while (!owed_.empty()) {
        const int code = ReadReply();
        if (code != 1 && (code != -1 || pop_.LastReply().empty())) {
            pop_.Close();
            return;
        }
        if (blockNext_) ReadData(dropped, pop_.MessageLimit(), 0);
    }
}

void TmsCustomPOP::Pipeline::Settle() {
    if (owed_.empty() || !pop_.Connected()) return;
    try {
        Drain();
    } catch (...) {
        pop_.Close();
    }
}

}  // namespace kelvane
