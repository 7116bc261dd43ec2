#include "mail/linestream.h"

#include <algorithm>

#include "base/lines.h"

namespace kelvane {

void TLineStream::SetData(std::string data) {
    data_ = std::move(data);
    Reset();
}

void TLineStream::Reset() {
    lines_.clear();
    index_ = 0;
    pos_ = 0;
    eof_ = false;
    lastChunk_ = false;
}

std::string TLineStream::ReadLine() {
    if (index_ < lines_.size()) return lines_[index_++];
    while (!lastChunk_) {
        const std::size_t n = std::min(kChunkSize, data_.size() - pos_);
        const std::string_view chunk(data_.data() + pos_, n);
        if (n < kChunkSize) lastChunk_ = true;

        // Cut after the chunk's last line end; what follows is read again
        // with the next chunk. The last chunk is taken whole, so a final line
        // without a line end is not lost.
        std::size_t cut = n;
        if (!lastChunk_) {
            std::size_t last = chunk.find_last_of("\r\n");
            if (last == n - 1 && chunk[last] == '\r') {
                // Its LF may open the next chunk: keep that pair together.
                last = last == 0 ? std::string_view::npos : chunk.find_last_of("\r\n", last - 1);
            }
            cut = last == std::string_view::npos ? 0 : last + 1;
        }
        lines_.clear();
        index_ = 0;
        if (cut == 0 && !lastChunk_) {
            // No line end before the chunk's last byte: a line longer than a
            // chunk is handed out in chunk-sized pieces.
            pos_ += n;
            if (chunk.back() == '\r') {
                lines_.emplace_back(chunk.substr(0, n - 1));
                if (pos_ < data_.size() && data_[pos_] == '\n') ++pos_;
            } else {
                lines_.emplace_back(chunk);
            }
        } else {
            pos_ += cut;
            LineSplitter split(chunk.substr(0, cut));
            for (std::string_view line; split.Next(line);)
                lines_.emplace_back(line);
        }
        if (!lines_.empty()) return lines_[index_++];
    }
    eof_ = true;
    return std::string(kEndOfLines);
}

}  // namespace kelvane
