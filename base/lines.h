#pragma once

// The one line splitter of the program: CR LF, LF and CR each end a line,
// and a rest without a line end is a line too.

#include <cstddef>
#include <string_view>

namespace kelvane {

class LineSplitter {
  public:
    explicit LineSplitter(std::string_view text) : text_(text) {}
    // The next line without its line end; false after the last one.
    bool Next(std::string_view& line) {
        if (pos_ >= text_.size()) return false;
        const std::size_t end = text_.find_first_of("\r\n", pos_);
        if (end == std::string_view::npos) {
            line = text_.substr(pos_);
            pos_ = text_.size();
        } else {
            line = text_.substr(pos_, end - pos_);
            pos_ = end + 1;
            if (text_[end] == '\r' && pos_ < text_.size() && text_[pos_] == '\n') ++pos_;
        }
        return true;
    }

  private:
    std::string_view text_;
    std::size_t pos_ = 0;
};

}  // namespace kelvane
