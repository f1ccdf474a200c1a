#include "support/diagnostics.hpp"

#include <kestrel/support/diagnostics.hpp>

#include <cstdio>
#include <memory>
#include <mutex>
#include <string>

namespace kestrel {

namespace {

struct HandlerSlot {
    std::mutex mutex;
    // Shared so that a line being delivered keeps the handler it started with alive while another
    // thread replaces it.
    std::shared_ptr<const DiagnosticsHandler> current;
};

// Never destroyed: the library's threads (a click outbox sending, a transfer completing) may
// still print while the process exits and destroys its statics.
HandlerSlot& slot() {
    static auto* const instance = new HandlerSlot();
    return *instance;
}

} // namespace

void setDiagnosticsHandler(DiagnosticsHandler handler) {
    auto replacement =
        handler ? std::make_shared<const DiagnosticsHandler>(std::move(handler)) : nullptr;
    auto& shared = slot();
    std::lock_guard lock(shared.mutex);
    shared.current.swap(replacement);
}

namespace support {

void printLine(std::string_view text) {
    std::shared_ptr<const DiagnosticsHandler> handler;
    {
        std::lock_guard lock(slot().mutex);
        handler = slot().current;
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
