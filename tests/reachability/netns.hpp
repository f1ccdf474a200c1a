// A network namespace of the test process's own: entered once at start-up, with loopback up and
// IPv6 off for new interfaces so that links brought up send nothing. Links are made with ip.
#pragma once

#include <string>

namespace kestrel::test::netns {

// Enters a new network namespace; call before anything opens a socket. Safe to call once.
void enter();
// Empty when the namespace is ready; otherwise why it could not be made.
const std::string& unavailableReason();
// Runs `ip <arguments>` and gives its exit status (127 when ip cannot be run).
int ip(const std::string& arguments);

} // namespace kestrel::test::netns
