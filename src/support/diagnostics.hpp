// Diagnostics: single lines on standard output, each written with one call so that lines from
// different threads never interleave.
#pragma once

#include <string_view>

namespace kestrel::support {

// Writes text and a newline to standard output in one write, then flushes.
void printLine(std::string_view text);

} // namespace kestrel::support
