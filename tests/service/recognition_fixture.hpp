// What the recognition suites share: one stand-in service for the whole test program, with the
// library's addresses, API key, host information and settings store set up for it, a photo, and
// calls that wait for their completion.
#pragma once

#include "platform/imaging/image_fixtures.hpp"
#include "service/recognition_service.hpp"
#include "support/service_addresses.hpp"
#include "support/temp_dir.hpp"

#include <kestrel/config/kestrel_manager.hpp>
#include <kestrel/platform/bundle.hpp>
#include <kestrel/platform/user_defaults.hpp>
#include <kestrel/service/server.hpp>

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <thread>

namespace kestrel::testing {

// Made on first use; the service runs until the program ends.
inline RecognitionService& recognitionService() {
    static TempDir dir;
    static RecognitionService* service = [] {
        platform::UserDefaults::setStandard(
            platform::UserDefaults::openFile(dir / "settings.sqlite"));
        auto* made = new RecognitionService();
        [&] { useServiceAt(dir.path(), made->base()); }();
        platform::Bundle::setMainInfoDictionary(
            {{"CFBundleName", "ScanHost"}, {"CFBundleShortVersionString", "2.1"}});
        return made;
    }();
    KestrelLight::setApiKey("key-1");
    KestrelManager::shared().setUseBlackAndWhite(false);
    KestrelManager::shared().setJpegQuality(0.8);
    return *service;
}

// A 1600 x 1200 test card: 1000 x 750 once scaled to the send width.
inline std::shared_ptr<const platform::Bitmap> photo() {
    static const auto card = fixtures::rgbaBitmap(1600, 1200, fixtures::testCard);
    return card;
}

template <typename T>
struct Outcome {
    std::optional<T> value;
    std::optional<KestrelError> error;
    bool onDelegateQueue = false;
    bool onCallerThread = false;
};

// Calls Server::shared().enrichedImage or pictureSearch and waits (at most 30 s) for completion.
template <typename T, typename Call>
Outcome<T> waitFor(Call call) {
    auto promise = std::make_shared<std::promise<Outcome<T>>>();
    auto future = promise->get_future();
    const auto caller = std::this_thread::get_id();
    call([promise, caller](std::optional<T> value, std::optional<KestrelError> error) {
        promise->set_value({std::move(value), error,
                            Server::shared().session()->delegateQueue().isCurrent(),
                            std::this_thread::get_id() == caller});
    });
    if (future.wait_for(std::chrono::seconds(30)) != std::future_status::ready) {
        ADD_FAILURE() << "the completion never ran";
        return {};
    }
    return future.get();
}

inline Outcome<Image> recognise(std::shared_ptr<const platform::Bitmap> image = photo()) {
    return waitFor<Image>([&](auto done) { Server::shared().enrichedImage(image, done); });
}

inline Outcome<std::vector<Picture>>
searchPictures(std::shared_ptr<const platform::Bitmap> image = photo()) {
    return waitFor<std::vector<Picture>>(
        [&](auto done) { Server::shared().pictureSearch(image, done); });
}

} // namespace kestrel::testing
