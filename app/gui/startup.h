#pragma once

namespace kelvane {

// The program: one copy per user, the five long-lived windows in their
// order, then the event loop. Returns the exit status.
int RunKelvane(int argc, char** argv);

}  // namespace kelvane
