#include "support/diagnostics.hpp"

#include <kestrel/support/diagnostics.hpp>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace kestrel {

namespace {

std::mutex handlerMutex;
// Shared so that a line being delivered keeps the handler it started with alive while another
// thread replaces it.
std::shared_ptr<const DiagnosticsHandler> currentHandler;

} // namespace

void setDiagnosticsHandler(DiagnosticsHandler handler) {
    auto replacement =
        handler ? std::make_shared<const DiagnosticsHandler>(std::move(handler)) : nullptr;
    std::lock_guard lock(handlerMutex);
    currentHandler.swap(replacement);
}

namespace support {

void printLine(std::string_view text) {
    std::shared_ptr<const DiagnosticsHandler> handler;
    {
        std::lock_guard lock(handlerMutex);
        handler = currentHandler;
    }
    if (handler) {
        (*handler)(text);
        return;
    }
    std::string line;
    line.reserve(text.size() + 1);
    line.append(text);
    line.push_back('\n');
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

} // namespace support

} // namespace kestrel
