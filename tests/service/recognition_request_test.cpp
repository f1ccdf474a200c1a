// The recognition request as the stand-in service receives and parses it.
#include "service/recognition_fixture.hpp"
#include "support/capture_stdout.hpp"

#include <kestrel/platform/graphics.hpp>
#include <kestrel/platform/locale.hpp>
#include <kestrel/service/server_helpers.hpp>

#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <span>
#include <thread>

using namespace kestrel;
using namespace kestrel::testing;

namespace {

const JsonValue okImage = {{"status", 200}, {"body", R"({"Id":"p1","SessionId":"s1"})"}};

// Header names in the order received, without those the transport adds to every request.
std::vector<std::string> headerNames(const JsonValue& request) {
    std::vector<std::string> names;
    for (const auto& header : request["headers"]) {
        const auto name = header[0].get<std::string>();
        if (name != "Host" && name != "Accept-Encoding" && name != "Content-Length")
            names.push_back(name);
    }
    return names;
}

std::string header(const JsonValue& request, const std::string& name) {
    for (const auto& h : request["headers"])
        if (h[0] == name) return h[1];
    return "<absent>";
}

const std::vector<std::string> commonHeaders = {"Content-Type",
                                                "Accept",
                                                "ApplicationInstanceId",
                                                "ApplicationName",
                                                "ApplicationVersion",
                                                "ApiKey",
                                                "DeviceOS",
                                                "DeviceName",
                                                "DeviceSystemVersion",
                                                "DeviceSystemVersionName",
                                                "SdkName",
                                                "SdkVersion",
                                                "DeviceConnectivity",
                                                "DeviceScreenDiagonal",
                                                "DeviceScreenHeight",
                                                "DeviceScreenWidth"};

// Checks the body's framing against the boundary of the Content-Type header and returns the
// JPEG of the file part, decoded by libjpeg.
fixtures::Decoded checkFramingAndDecodeFile(const JsonValue& request) {
    const std::string contentType = header(request, "Content-Type");
    const std::regex form(
        "multipart/form-data; boundary=(Boundary-[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-"
        "[0-9A-F]{4}-[0-9A-F]{12})");
    std::smatch match;
    EXPECT_TRUE(std::regex_match(contentType, match, form)) << contentType;
    const std::string boundary = match[1];
    EXPECT_TRUE(request["problem"].is_null()) << request["problem"];
    const JsonValue& file = request["parts"].back();
    EXPECT_EQ(file["name"], "file");
    EXPECT_EQ(file["filename"], "image.jpg");
    EXPECT_EQ(file["contentType"], "image/jpeg");
    const std::string jpeg = fromBase64(file["data"]);
    // The JPEG bytes, one CRLF, the closing delimiter, and nothing after it.
    const std::string body = fromBase64(request["body"]);
    EXPECT_TRUE(body.ends_with(jpeg + "\r\n--" + boundary + "--"));
    return fixtures::decodeJpeg(std::vector<std::uint8_t>(jpeg.begin(), jpeg.end()));
}

} // namespace

TEST(RecognitionRequest, EnrichedImageAsTheServiceParsesIt) {
    auto& service = recognitionService();
    service.reset(okImage);
    platform::Locale::setPreferredLanguages({"fr"});
    KestrelManager::shared().setUseBlackAndWhite(true);
    ASSERT_TRUE(recognise().value);
    ASSERT_TRUE(recognise().value);

    const JsonValue requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    for (const auto& request : requests) {
        EXPECT_EQ(request["method"], "POST");
        EXPECT_EQ(request["target"], "/v1/enriched-images");
        EXPECT_EQ(headerNames(request), commonHeaders);
        EXPECT_EQ(header(request, "Accept"), "application/json");
        EXPECT_EQ(header(request, "ApplicationName"), "ScanHost");
        EXPECT_EQ(header(request, "ApplicationVersion"), "2.1");
        EXPECT_EQ(header(request, "ApiKey"), "key-1");
        EXPECT_EQ(header(request, "SdkName"), "KestrelSDKLight");
        ASSERT_EQ(request["parts"].size(), 2u);
        const JsonValue& query = request["parts"][0];
        EXPECT_EQ(query["name"], "query");
        EXPECT_EQ(fromBase64(query["data"]), R"({"Language":"fr"})");
        const auto jpeg = checkFramingAndDecodeFile(request);
        EXPECT_EQ(jpeg.width, 1000);
        EXPECT_EQ(jpeg.height, 750);
        EXPECT_EQ(jpeg.components, 1); // grey, as the setting says
    }
    EXPECT_NE(header(requests[0], "Content-Type"), header(requests[1], "Content-Type"));
    EXPECT_NE(header(requests[0], "ApplicationInstanceId"),
              header(requests[1], "ApplicationInstanceId"));
}

TEST(RecognitionRequest, PictureSearchCarriesTheLanguageLastAndOnlyTheFilePart) {
    auto& service = recognitionService();
    service.reset({{"status", 200}, {"body", "[]"}});
    platform::Locale::setPreferredLanguages({"en-GB", "fr"});
    ASSERT_TRUE(searchPictures().value);

    const JsonValue requests = service.requests();
    ASSERT_EQ(requests.size(), 1u);
    const JsonValue& request = requests[0];
    EXPECT_EQ(request["target"], "/v1/pictures/search");
    auto expected = commonHeaders;
    expected.push_back("Language");
    EXPECT_EQ(headerNames(request), expected);
    EXPECT_EQ(header(request, "Language"), "en-GB");
    ASSERT_EQ(request["parts"].size(), 1u);
    const auto jpeg = checkFramingAndDecodeFile(request);
    EXPECT_EQ(jpeg.components, 3);
}

// A language code is written into the query part as a JSON string, so a quote or backslash in
// it cannot break the object; header values never carry line breaks.
TEST(RecognitionRequest, OddTextsCannotBreakTheQueryOrTheHeaders) {
    auto& service = recognitionService();
    service.reset(okImage);
    const std::string odd = "x\"}, \"Evil\": \"1\\";
    platform::Locale::setPreferredLanguages({odd});
    platform::Bundle::setMainInfoDictionary(
        {{"CFBundleName", "Scan\r\nX-Evil: 1"}, {"CFBundleShortVersionString", "2.1"}});
    ASSERT_TRUE(recognise().value);
    platform::Bundle::setMainInfoDictionary(
        {{"CFBundleName", "ScanHost"}, {"CFBundleShortVersionString", "2.1"}});

    const JsonValue request = service.requests().at(0);
    const JsonValue query = JsonValue::parse(fromBase64(request["parts"][0]["data"]));
    EXPECT_EQ(query, (JsonValue{{"Language", odd}}));
    EXPECT_EQ(header(request, "ApplicationName"), "ScanX-Evil: 1");
    EXPECT_EQ(header(request, "X-Evil"), "<absent>");
}

// Every request that cannot be built completes at once, on the caller's thread, and sends
// nothing.
TEST(RecognitionRequest, RequestsThatCannotBeBuiltCompleteAtOnceWithParametersMissing) {
    auto& service = recognitionService();
    service.reset(okImage);
    const struct {
        const char* what;
        std::function<void()> arrange;
        std::shared_ptr<const platform::Bitmap> image;
    } cases[] = {
        {"no photo", [] {}, nullptr},
        {"API key with a line break", [] { KestrelLight::setApiKey("key\n1"); }, photo()},
        {"no short version",
         [] {
             platform::Bundle::setMainInfoDictionary({{"CFBundleName", "ScanHost"}});
         },
         photo()},
        {"photo without pixels", [] {}, platform::Bitmap::placeholder({1000, 750})},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        platform::Locale::setPreferredLanguages({"fr"});
        recognitionService();
        c.arrange();
        Outcome<Image> image;
        Outcome<std::vector<Picture>> pictures;
        const std::string printed = captureStdout([&] {
            image = recognise(c.image);
            pictures = searchPictures(c.image);
        });
        EXPECT_EQ(printed,
                  "EnrichedImages : missing parameters\nPictureSearch : missing parameters\n");
        EXPECT_EQ(image.error, KestrelError::parametersMissing);
        EXPECT_EQ(pictures.error, KestrelError::parametersMissing);
        EXPECT_TRUE(image.onCallerThread && pictures.onCallerThread);
        platform::Bundle::setMainInfoDictionary(
            {{"CFBundleName", "ScanHost"}, {"CFBundleShortVersionString", "2.1"}});
    }
    EXPECT_TRUE(service.requests().empty());
    EXPECT_FALSE(urlRequestWithImage(photo(), ConfigurationKey::sdkEnrichedImageUrl, ""));
    const auto request = urlRequestWithImage(photo(), ConfigurationKey::sdkEnrichedImageUrl, "fr");
    ASSERT_TRUE(request);
    EXPECT_EQ(request->timeoutInterval, std::chrono::duration<double>(15.0));
}

// Photo files and bytes are decoded small, scaled to the send size and go out as the decoded photo
// would: upright, grey or colour as the setting says. What does not decode completes at once with
// unreadablePhoto, and nothing is sent.
TEST(RecognitionRequest, PhotoFilesAndBytesGoOutAsTheDecodedPhotoWould) {
    auto& service = recognitionService();
    platform::Locale::setPreferredLanguages({"fr"});
    const TempDir dir;
    // Smooth ramps stored lying on their side (EXIF orientation 6), with a dark block that any
    // wrong turn or mirror would move.
    const int w = 2600, h = 1950;
    std::vector<std::uint8_t> rgb;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const bool block = x < w / 4 && y < h / 4;
            fixtures::append(rgb, {static_cast<std::uint8_t>(block ? 20 : 40 + x * 200 / w),
                                   static_cast<std::uint8_t>(block ? 20 : 40 + y * 200 / h), 128});
        }
    const auto jpeg = fixtures::withExifOrientation(fixtures::encodeJpeg(rgb, w, h, 3), 6, false);
    const auto file = dir / "photo.jpg";
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(jpeg.data()),
               static_cast<std::streamsize>(jpeg.size()));
    const auto send = [](auto photo) {
        std::promise<Result<Image>> done;
        auto result = done.get_future();
        Server::shared().enrichedImage(photo, [&done](Result<Image> r) { done.set_value(r); });
        return result.get();
    };
    const auto meanDifference = [](const fixtures::Decoded& a, const fixtures::Decoded& b) {
        EXPECT_EQ(a.pixels.size(), b.pixels.size());
        double difference = 0;
        for (std::size_t i = 0; i < std::min(a.pixels.size(), b.pixels.size()); ++i)
            difference += std::abs(a.pixels[i] - b.pixels[i]);
        return difference / static_cast<double>(std::max<std::size_t>(a.pixels.size(), 1));
    };
    for (const bool grey : {false, true}) {
        SCOPED_TRACE(grey ? "grey" : "colour");
        service.reset(okImage);
        KestrelManager::shared().setUseBlackAndWhite(grey);
        ASSERT_TRUE(send(platform::Bitmap::fromFile(file)));
        ASSERT_TRUE(send(file));
        ASSERT_TRUE(send(std::span<const std::uint8_t>(jpeg)));
        // Already at the send size, in the other channels than those sent.
        const auto atSize = fixtures::rgbaBitmap(1000, 750, fixtures::testCard);
        ASSERT_TRUE(send(grey ? atSize : platform::drawInGrayContext(atSize.get(), {1000, 750})));
        const JsonValue requests = service.requests();
        ASSERT_EQ(requests.size(), 4u);
        const auto converted = checkFramingAndDecodeFile(requests[3]);
        EXPECT_EQ(converted.components, grey ? 1 : 3);
        EXPECT_EQ(converted.width, 1000);
        const auto decoded = checkFramingAndDecodeFile(requests[0]);
        const auto fromFile = checkFramingAndDecodeFile(requests[1]);
        EXPECT_EQ(fromBase64(requests[1]["parts"].back()["data"]),
                  fromBase64(requests[2]["parts"].back()["data"]));
        ASSERT_EQ(fromFile.width, 750);
        ASSERT_EQ(fromFile.height, 1000);
        ASSERT_EQ(fromFile.components, grey ? 1 : 3);
        EXPECT_LT(meanDifference(decoded, fromFile), 1.0);
    }

    // Colour stored otherwise (full or half-width chroma, RGB samples) goes out as its decoded
    // bitmap would too.
    KestrelManager::shared().setUseBlackAndWhite(false);
    for (const auto& [stored, sampling] :
         {std::pair{JCS_YCbCr, std::pair{1, 1}}, {JCS_YCbCr, {2, 1}}, {JCS_RGB, {1, 1}}}) {
        const auto other = fixtures::withExifOrientation(
            fixtures::encodeJpeg(rgb, w, h, 3, 95, stored, true, sampling), 6, false);
        service.reset(okImage);
        ASSERT_TRUE(send(platform::Bitmap::fromEncoded(other)));
        ASSERT_TRUE(send(std::span<const std::uint8_t>(other)));
        const JsonValue requests = service.requests();
        ASSERT_EQ(requests.size(), 2u);
        const auto decoded = checkFramingAndDecodeFile(requests[0]);
        const auto fromBytes = checkFramingAndDecodeFile(requests[1]);
        ASSERT_EQ(fromBytes.width, 750);
        EXPECT_LT(meanDifference(decoded, fromBytes), 1.0);
    }

    // Picture search takes the same forms.
    service.reset({{"status", 200}, {"body", "[]"}});
    const auto search = [](auto photo) {
        std::promise<bool> done;
        Server::shared().pictureSearch(
            photo, [&done](Result<std::vector<Picture>> r) { done.set_value(r.ok()); });
        return done.get_future().get();
    };
    EXPECT_TRUE(search(file));
    EXPECT_TRUE(search(std::span<const std::uint8_t>(jpeg)));
    const JsonValue searches = service.requests();
    ASSERT_EQ(searches.size(), 2u);
    for (const auto& request : searches) {
        EXPECT_EQ(request["target"], "/v1/pictures/search");
        EXPECT_EQ(checkFramingAndDecodeFile(request).height, 1000);
    }

    service.reset(okImage);
    const std::vector<std::uint8_t> truncated(jpeg.begin(), jpeg.begin() + jpeg.size() / 2);
    const auto caller = std::this_thread::get_id();
    const auto refused = [&](auto photo) {
        std::optional<Failure> failure;
        Server::shared().enrichedImage(photo, [&](Result<Image> r) {
            EXPECT_EQ(std::this_thread::get_id(), caller);
            if (!r) failure = r.failure();
        });
        return failure && failure->cause == FailureCause::unreadablePhoto;
    };
    EXPECT_TRUE(refused(dir.path()));
    EXPECT_TRUE(refused(dir / "absent.jpg"));
    EXPECT_TRUE(refused(std::span<const std::uint8_t>(truncated)));
    EXPECT_TRUE(refused(std::span<const std::uint8_t>()));
    EXPECT_TRUE(service.requests().empty());
}

// The loop the product lives on: the scan preferences of a reply decide how the next photo is
// prepared.
TEST(RecognitionLoop, ScanPreferencesOfAReplyChangeTheNextPhoto) {
    auto& service = recognitionService();
    platform::Locale::setPreferredLanguages({"fr"});
    service.reset(okImage);
    service.queueReplies(JsonValue::array(
        {{{"status", 200},
          {"body", R"({"Id":"p1","ScanPrefs":{"BlackAndWhite":true,"JpegQuality":"0.5"}})"}}}));
    ASSERT_TRUE(recognise().value);
    ASSERT_TRUE(recognise().value);

    const JsonValue requests = service.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::string before = fromBase64(requests[0]["parts"][1]["data"]);
    const std::string after = fromBase64(requests[1]["parts"][1]["data"]);
    EXPECT_EQ(checkFramingAndDecodeFile(requests[0]).components, 3);
    EXPECT_EQ(checkFramingAndDecodeFile(requests[1]).components, 1);
    EXPECT_LT(after.size(), before.size() * 3 / 4);
}
