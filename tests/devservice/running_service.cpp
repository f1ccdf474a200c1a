#include "running_service.hpp"

#include "catalogue.hpp"
#include "catalogue_store.hpp"
#include "page_description.hpp"
#include "photo_simulator.hpp"
#include "recognition_service.hpp"

#include <kestrel/platform/user_defaults.hpp>

#include <gtest/gtest.h>
#include <opencv2/imgcodecs.hpp>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <thread>

namespace kestrel::testing {
namespace {

std::filesystem::path scratchFolder() {
    static const std::filesystem::path folder = [] {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "kestrel-devservice-test-XXXXXX").string();
        if (!::mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
        return std::filesystem::path(pattern);
    }();
    return folder;
}

// Serves until the test program ends; the environment stops it and removes the scratch folder.
struct Server {
    devservice::CatalogueStore store;
    devservice::Catalogue catalogue;
    devservice::RecognitionService service;
    int port;
    std::thread thread;

    explicit Server(const std::filesystem::path& database)
        : store(database),
          catalogue((devservice::importFolder(store, KESTREL_DEVSERVICE_CATALOGUE), store)),
          service(store, catalogue), port(service.bind("127.0.0.1", 0)),
          thread([this] { service.run(); }) {}
    ~Server() {
        service.stop();
        thread.join();
    }
};

Server* server = nullptr;

class ServiceEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        // Decoding a reply stores its scan preferences: keep them out of the user's settings.
        platform::UserDefaults::setStandard(
            platform::UserDefaults::openFile(scratchFolder() / "defaults.sqlite"));
    }
    void TearDown() override {
        delete server;
        server = nullptr;
        std::filesystem::remove_all(scratchFolder());
    }
};

[[maybe_unused]] auto* const environment =
    ::testing::AddGlobalTestEnvironment(new ServiceEnvironment);

} // namespace

const std::vector<SamplePage>& samplePages() {
    static const std::vector<SamplePage> pages = [] {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(KESTREL_DEVSERVICE_CATALOGUE))
            if (entry.path().extension() == ".json" && entry.path().filename() != "catalogue.json")
                files.push_back(entry.path());
        std::sort(files.begin(), files.end());
        std::vector<SamplePage> result;
        for (const auto& file : files) {
            std::ifstream in(file);
            SamplePage page{nlohmann::json::parse(in), {}};
            page.image = cv::imread(
                (file.parent_path() / page.description.at("image").get<std::string>()).string());
            result.push_back(std::move(page));
        }
        return result;
    }();
    return pages;
}

std::vector<unsigned char> photograph(const cv::Mat& image, std::mt19937& random) {
    return devservice::synth::photographPage(image, random);
}

std::string recognitionBody(const std::string& fileBytes, bool withQueryPart) {
    std::string body;
    if (withQueryPart)
        body += "--Boundary-TEST\r\nContent-Disposition: form-data; name=\"query\"\r\n\r\n"
                "{\"Language\":\"en\"}\r\n";
    body += "--Boundary-TEST\r\nContent-Disposition: form-data; name=\"file\"; "
            "filename=\"image.jpg\"\r\nContent-Type: image/jpeg\r\n\r\n";
    return body + fileBytes + "\r\n--Boundary-TEST--";
}

RunningService& RunningService::shared() {
    static RunningService instance;
    return instance;
}

RunningService::RunningService() {
    server = new Server(scratchFolder() / "catalogue.sqlite");
    port_ = server->port;
}

void RunningService::addKey(const std::string& key) const { server->store.addApiKey(key); }

httplib::Client RunningService::client() const {
    httplib::Client client("127.0.0.1", port_);
    client.set_read_timeout(30, 0);
    return client;
}

httplib::Result RunningService::post(const std::string& path, const std::string& body,
                                     const std::string& key, const std::string& contentType) const {
    httplib::Headers headers;
    if (!key.empty()) headers.emplace("ApiKey", key);
    return client().Post(path.c_str(), headers, body, contentType.c_str());
}

httplib::Result RunningService::recognise(const std::vector<unsigned char>& jpeg,
                                          const std::string& key) const {
    return post("/v1/enriched-images", recognitionBody({jpeg.begin(), jpeg.end()}), key);
}

httplib::Result RunningService::search(const std::vector<unsigned char>& jpeg) const {
    return post("/v1/pictures/search", recognitionBody({jpeg.begin(), jpeg.end()}, false));
}

httplib::Result RunningService::click(const std::string& session, const std::string& action,
                                      const std::string& key) const {
    httplib::Headers headers{{"ApiKey", key}};
    if (!session.empty()) headers.emplace("SessionId", session);
    const std::string path = action.empty() ? "/v1/clicks" : "/v1/clicks?actionId=" + action;
    return client().Put(path.c_str(), headers, "", "application/x-www-form-urlencoded");
}

nlohmann::json RunningService::stats(const std::string& key) const {
    const auto reply = client().Get("/v1/stats", httplib::Headers{{"ApiKey", key}});
    EXPECT_TRUE(reply && reply->status == 200) << (reply ? reply->body : "no reply");
    return nlohmann::json::parse(reply ? reply->body : "{}");
}

} // namespace kestrel::testing
