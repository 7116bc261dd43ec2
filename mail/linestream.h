#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace kelvane {

// Reads text held in memory line by line, in chunks of kChunkSize bytes. CR
// LF, LF and CR each end a line; a last line without a line end is a line
// too. After the last line ReadLine returns kEndOfLines and Eof() holds.
class TLineStream {
  public:
    static constexpr std::size_t kChunkSize = 16384;
    static constexpr std::string_view kEndOfLines = "\xFF\xFF\xFF\xFF";

    explicit TLineStream(std::string data = {}) : data_(std::move(data)) {}

    std::string ReadLine();
    bool Eof() const { return eof_; }
    void Reset();
    void SetData(std::string data);

  private:
    std::string data_;
    std::size_t pos_ = 0;
    std::vector<std::string> lines_;
    std::size_t index_ = 0;  // one past the line returned last
    bool eof_ = false;
    bool lastChunk_ = false;
};

}  // namespace kelvane
