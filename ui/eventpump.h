#pragma once

// While the core waits on the network it calls the client's pump hook; the
// windows keep repainting and Cancel stays live through it.

namespace kelvane {
class TagSocket;
}

namespace kelvane::ui {

// Dispatches the pending window events, at most about 125 times a second:
// the core calls the hook at every wait, once per message or more, and a
// repaint per message would make a long list crawl in.
void PumpEvents();

void InstallEventPump(TagSocket& socket);

}  // namespace kelvane::ui
