#pragma once

// Commands sent ahead of their replies (RFC 2449 PIPELINING), for servers
// that announce it. A bounded window of commands is kept in flight; the
// replies are read in order from one receive buffer, and the commands still
// waiting go out during those reads, so neither side's buffers can fill up
// and stall the exchange. Only the POP3 client uses it.

#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>
#include <string_view>

#include "mail/mspop3.h"

namespace kelvane {

class TmsCustomPOP::Pipeline {
  public:
    // A thousand messages' worth of LIST and TOP: on a slow link most
    // mailboxes then cost one round trip. The bytes are bounded as well, so
    // that the commands waiting in the server never grow without end.
    static constexpr std::size_t kMaxCommands = 2048;
    static constexpr std::size_t kMaxBytes = 32768;

    explicit Pipeline(TmsCustomPOP& pop) : pop_(pop) {}
    Pipeline(const Pipeline&) = delete;
    Pipeline& operator=(const Pipeline&) = delete;

    // Whether count more commands of about this length may go in flight.
    bool HasRoom(std::size_t count, std::size_t bytesEach) const;
    // Queues a command; block tells whether its positive reply is followed by
    // a dot-terminated block. It is written during the following reads.
    void Send(std::string_view command, bool block);
    std::size_t InFlight() const { return owed_.size(); }
    // Bytes received beyond the last reply read: with nothing in flight, the
    // replies are out of step with the commands they were read for.
    bool HasUnread() const { return at_ < in_.size(); }
    // The first line of those bytes, without its line end.
    std::string UnreadLine() const;

    // The reply to the oldest command in flight: its code, the line kept as
    // the last reply; -1 and an empty line when the server closed first.
    int ReadReply();
    // The block after a positive reply, as ReadData appends it: its first
    // keep bytes, the rest dropped as it is read. Returns the bytes of the
    // whole block.
    std::size_t ReadData(std::string& block, std::size_t limit, std::size_t keep = SIZE_MAX);
    // Reads and drops the replies still owed, so that the session can go on
    // command by command. A reply that is neither positive nor negative
    // leaves no way to tell where its block ends: the connection is closed.
    void Drain();
    // Drain after a failure, when the session is still open; a drain that
    // fails in turn closes the connection, so nothing is left in flight.
    void Settle();

  private:
    // Waits for more bytes; false when the server has closed.
    bool Fill();
    std::string_view Buffered() const { return std::string_view(in_).substr(at_); }
    void Consume(std::size_t bytes);

    TmsCustomPOP& pop_;
    std::string out_;
    std::string in_;
    std::size_t at_ = 0;        // start of the unread bytes in in_
    std::size_t outBytes_ = 0;  // bytes of the commands in flight
    struct Owed {
        std::size_t bytes;
        bool block;
    };
    std::deque<Owed> owed_;
    bool blockNext_ = false;  // the reply just read announced a block
};

}  // namespace kelvane
