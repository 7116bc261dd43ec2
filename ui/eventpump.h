#pragma once

// While the core waits on the network it calls the client's pump hook; the
// windows keep repainting and Cancel stays live through it.

namespace kelvane {
class TagSocket;
}

namespace kelvane::ui {

void InstallEventPump(TagSocket& socket);

}  // namespace kelvane::ui
