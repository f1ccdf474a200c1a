// The command line of kestrel-devservice: import, add-key, serve and stats.
#pragma once

#include <ostream>
#include <string>
#include <vector>

namespace kestrel::devservice {

// Runs the command that arguments (without the program name) name; returns the exit status.
// serve blocks until SIGINT or SIGTERM.
int runCommand(const std::vector<std::string>& arguments, std::ostream& out, std::ostream& err);

} // namespace kestrel::devservice
