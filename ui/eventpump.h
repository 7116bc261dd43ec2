#pragma once

// While the core waits on the network it calls the client's pump hook and
// sleeps through the client's waiter; the windows keep repainting and Cancel
// stays live through them.

#include <memory>

namespace kelvane {
class TagSocket;
class SocketWaiter;
}  // namespace kelvane

namespace kelvane::ui {

// Dispatches the pending window events, at most about 125 times a second:
// the core calls the hook at every wait, once per message or more, and a
// repaint per message would make a long list crawl in.
void PumpEvents();

// A waiter that sleeps in a nested event loop woken by the socket, by the
// time-out or by any window event, which it dispatches at once: a window
// answers within a frame during a silent server and does not wake while
// nothing happens.
std::unique_ptr<SocketWaiter> MakeWindowWaiter();

// Installs both on the socket.
void InstallEventPump(TagSocket& socket);

}  // namespace kelvane::ui
