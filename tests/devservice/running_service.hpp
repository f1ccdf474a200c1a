// One local recognition service for the whole test program: the sample catalogue imported into a
// fresh file, served on 127.0.0.1 at a free port, and the helpers that talk to it as the client
// library does (a multipart body with a "query" part and a "file" part, the key in "ApiKey").
#pragma once

#include <httplib.h>
#include <nlohmann/json.hpp>
#include <opencv2/core.hpp>

#include <random>
#include <string>
#include <vector>

namespace kestrel::testing {

inline const std::string kDemoKey = "demo-key-0001"; // listed in the sample catalogue.json
inline const std::string kMultipartType = "multipart/form-data; boundary=Boundary-TEST";

struct SamplePage {
    nlohmann::json description; // as written in the catalogue folder
    cv::Mat image;
};

// The sample catalogue's pages, read from its folder, in file-name order.
const std::vector<SamplePage>& samplePages();

// A hand-held shot of image as JPEG bytes (perspective, scale, turn, blur, noise, light, JPEG).
std::vector<unsigned char> photograph(const cv::Mat& image, std::mt19937& random);

// The multipart body the client library sends; boundary is "Boundary-TEST".
std::string recognitionBody(const std::string& fileBytes, bool withQueryPart = true);

class RunningService {
public:
    static RunningService& shared();
    int port() const { return port_; }

    // Accepts key from now on, as `kestrel-devservice add-key` does.
    void addKey(const std::string& key) const;
    httplib::Client client() const;
    // POSTs body to path with the key (none when empty) and the given content type.
    httplib::Result post(const std::string& path, const std::string& body,
                         const std::string& key = kDemoKey,
                         const std::string& contentType = kMultipartType) const;
    httplib::Result recognise(const std::vector<unsigned char>& jpeg,
                              const std::string& key = kDemoKey) const;
    httplib::Result search(const std::vector<unsigned char>& jpeg) const;
    // PUTs a click with the key, and the session and the action unless empty.
    httplib::Result click(const std::string& session, const std::string& action,
                          const std::string& key = kDemoKey) const;
    // GET /v1/stats with the key; a failed request fails the test and gives an empty object.
    nlohmann::json stats(const std::string& key = kDemoKey) const;

private:
    RunningService();
    int port_ = 0;
};

inline const RunningService& service() { return RunningService::shared(); }

} // namespace kestrel::testing
