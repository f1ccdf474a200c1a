// The HTTP service: the recognition, picture-search, click and statistics endpoints on one
// cpp-httplib server, answering from a catalogue and recording sessions and clicks in the store.
//
//   POST /v1/enriched-images   multipart photo -> 200 the recognised page, 404 none recognised
//   POST /v1/pictures/search   multipart photo -> 200 a ranked list of pictures: the verified
//                              pages, then unverified guesses scored below them; [] for none
//   PUT  /v1/clicks?actionId=  headers SessionId, ApiKey -> 204, 404 unknown session or action
//   GET  /v1/stats             sessions and clicks per page and action
//
// Every request needs a known "ApiKey" header (401 otherwise). A key sees only its own sessions:
// clicks on another key's session are refused as on an unknown one, and the statistics count
// the key's own sessions and clicks (the command line shows every key's). Refusals carry a
// one-line reason as text/plain.
#pragma once

#include "catalogue.hpp"
#include "catalogue_store.hpp"
#include "guarded_server.hpp"
#include "photo_upload.hpp"

#include <atomic>
#include <memory>
#include <string>

namespace kestrel::devservice {

struct ServiceOptions {
    UploadLimits upload{};
    // Memory and number of photo decodes at once, over all requests.
    std::size_t decodeBytes = 256u << 20;
    std::size_t decodes = 4;
    std::size_t maxPictures = 5; // candidates of a picture search
    ConnectionLimits connections{};
};

class RecognitionService {
public:
    RecognitionService(CatalogueStore& store, const Catalogue& catalogue,
                       ServiceOptions options = {});
    ~RecognitionService();
    RecognitionService(const RecognitionService&) = delete;
    RecognitionService& operator=(const RecognitionService&) = delete;

    // Binds the address (port 0: any free port) and returns the bound port. Throws
    // std::runtime_error when the address cannot be bound.
    int bind(const std::string& host, int port);
    // Serves on the bound address until stop(); returns false if serving failed.
    bool run();
    // Stops run() from any thread: requests in progress finish first.
    void stop();

private:
    void addRoutes();

    CatalogueStore& store_;
    const Catalogue& catalogue_;
    ServiceOptions options_;
    DecodeBudget decodeBudget_;
    std::unique_ptr<httplib::Server> server_;
    std::atomic<bool> stopping_{false};
};

} // namespace kestrel::devservice
