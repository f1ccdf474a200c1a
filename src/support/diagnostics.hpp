// Diagnostics: single lines, handed to the host's handler (kestrel::setDiagnosticsHandler) or
// written to standard output with one call each, so that lines from different threads never
// interleave.
#pragma once

#include <string_view>

namespace kestrel::support {

// Hands the text to the diagnostics handler; without one, writes it and a newline to standard
// output in one write, then flushes.
void printLine(std::string_view text);

} // namespace kestrel::support
