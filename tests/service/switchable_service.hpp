// One test server on 127.0.0.1 for a whole test program, whose replies each case chooses, with the
// library configured for it: addresses, API key, host information, a settings store in a
// temporary folder, and a small send width so that photos cost little. The shared server sends
// clicks directly; a case that wants a click outbox sets its own.
#pragma once

#include "platform/http/test_server.hpp"
#include "platform/imaging/image_fixtures.hpp"
#include "support/service_addresses.hpp"
#include "support/temp_dir.hpp"

#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/locale.hpp>
#include <kestrel/platform/user_defaults.hpp>
#include <kestrel/service/server.hpp>

#include <mutex>

namespace kestrel::testing {

namespace detail {
inline std::mutex replyMutex;
inline TestServer::Responder currentReply = [](const ReceivedRequest&) { return Reply{204}; };
} // namespace detail

// Later requests get the responder's reply.
inline void answerWith(TestServer::Responder responder) {
    std::lock_guard lock(detail::replyMutex);
    detail::currentReply = std::move(responder);
}
inline void answerWith(Reply reply) {
    answerWith([reply](const ReceivedRequest&) { return reply; });
}

// Made on first use; runs until the program ends. The folder holds the settings store.
inline const TempDir& testFolder() {
    static TempDir dir;
    return dir;
}

inline TestServer& testService() {
    // A static, not a leaked object: its destruction at exit joins its worker threads.
    static TestServer server([](const ReceivedRequest& request) {
        TestServer::Responder responder;
        {
            std::lock_guard lock(detail::replyMutex);
            responder = detail::currentReply;
        }
        return responder(request);
    });
    static const bool configured = [] {
        platform::UserDefaults::setStandard(
            platform::UserDefaults::openFile(testFolder() / "settings.sqlite"));
        useServiceAt(testFolder().path(), server.url(""), {{"SDK_IMAGE_SEND_WIDTH", "32"}});
        platform::Bundle::setMainInfoDictionary({{"CFBundleShortVersionString", "1.0"}});
        platform::Locale::setPreferredLanguages({"en"});
        Server::shared().setClickOutbox(nullptr);
        return true;
    }();
    (void)configured;
    KestrelLight::setApiKey("key-1");
    return server;
}

inline std::shared_ptr<const platform::Bitmap> photo() {
    static const auto card = fixtures::rgbaBitmap(48, 36, fixtures::testCard);
    return card;
}

} // namespace kestrel::testing
