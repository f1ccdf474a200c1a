/// \file
/// Where the library's diagnostic lines go: the addresses it calls, the status of replies, the
/// "Error: " lines of failed exchanges. By default each line is written to standard output.
#pragma once

#include <functional>
#include <string_view>

namespace kestrel {

/// Receives one line at a time, without its newline, on whichever thread printed it (often the
/// session's delegate queue); lines may arrive from several threads at once. Must not throw.
using DiagnosticsHandler = std::function<void(std::string_view line)>;

/// Sends every later line to the handler; an empty handler restores standard output. Any thread;
/// a line being delivered while the handler is replaced goes to one of the two, whole.
void setDiagnosticsHandler(DiagnosticsHandler handler);

} // namespace kestrel
