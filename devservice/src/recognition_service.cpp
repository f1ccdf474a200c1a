#include "recognition_service.hpp"

#include "replies.hpp"

#include <httplib.h>

#include <stdexcept>
#include <variant>

namespace kestrel::devservice {
namespace {

using httplib::Request;
using httplib::Response;

// Where the pre-routing handler moves a multipart content type (see there).
constexpr const char* kFormTypeHeader = "Kestrel-Form-Content-Type";

// The content type the request came with.
std::string formType(const Request& request) {
    return request.get_header_value(request.has_header(kFormTypeHeader) ? kFormTypeHeader
                                                                        : "Content-Type");
}

void refuse(Response& response, int status, const std::string& reason) {
    response.status = status;
    response.set_content(reason + "\n", "text/plain");
}

// The reason for a refusal that the HTTP layer made before any route saw the request.
std::string defaultReason(int status) {
    switch (status) {
    case 400:
        return "malformed request: the body could not be read as its content type says";
    case 404:
        return "no such endpoint";
    case 405:
        return "method not allowed";
    case 413:
        return "request body too large";
    default:
        return "request refused";
    }
}

} // namespace

RecognitionService::RecognitionService(CatalogueStore& store, const Catalogue& catalogue,
                                       ServiceOptions options)
    : store_(store), catalogue_(catalogue), options_(options),
      decodeBudget_(options.decodeBytes, options.decodes),
      server_(std::make_unique<GuardedServer>(options.connections)) {
    // Room for the photo and the form around it; larger bodies are refused unread.
    server_->set_payload_max_length(options_.upload.maxBytes + (64u << 10));
    server_->set_read_timeout(15, 0);
    server_->set_pre_routing_handler([this](const Request& request, Response& response) {
        if (!store_.isApiKey(request.get_header_value("ApiKey"))) {
            refuse(response, 401, "missing or unknown ApiKey header");
            return httplib::Server::HandlerResponse::Handled;
        }
        // cpp-httplib refuses a form whose closing delimiter ends the body without a CRLF, as
        // the client library's do; with its content type moved aside, the body reaches the route
        // unparsed and parseMultipartForm reads it. The request is cpp-httplib's own non-const
        // object, handed over as const; it is changed before its body is read.
        if (request.is_multipart_form_data()) {
            auto& headers = const_cast<Request&>(request).headers;
            const auto type = headers.find("Content-Type");
            headers.emplace(kFormTypeHeader, type->second);
            headers.erase(type);
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server_->set_error_handler([](const Request&, Response& response) {
        if (response.body.empty())
            refuse(response, response.status, defaultReason(response.status));
    });
    server_->set_exception_handler(
        [](const Request&, Response& response, std::exception_ptr error) {
            std::string what = "unexpected failure";
            try {
                if (error) std::rethrow_exception(error);
            } catch (const std::exception& e) {
                what += std::string(": ") + e.what();
            } catch (...) {}
            refuse(response, 500, what);
        });
    addRoutes();
}

RecognitionService::~RecognitionService() { stop(); }

void RecognitionService::addRoutes() {
    server_->Post("/v1/enriched-images", [this](const Request& request, Response& response) {
        auto photo = readPhoto(formType(request), request.body, options_.upload, decodeBudget_);
        if (auto* refusal = std::get_if<Refusal>(&photo))
            return refuse(response, refusal->status, refusal->reason);
        const auto matches = catalogue_.find(std::get<cv::Mat>(photo), 1);
        if (matches.empty())
            return refuse(response, 404, "no catalogue page recognised in the photo");
        const Page& page = *matches.front().page;
        const std::string session = store_.openSession(page.id, request.get_header_value("ApiKey"));
        response.set_content(enrichedImageReply(page, session), "application/json");
    });

    server_->Post("/v1/pictures/search", [this](const Request& request, Response& response) {
        auto photo = readPhoto(formType(request), request.body, options_.upload, decodeBudget_);
        if (auto* refusal = std::get_if<Refusal>(&photo))
            return refuse(response, refusal->status, refusal->reason);
        std::vector<PictureCandidate> candidates;
        for (const PageMatch& match :
             catalogue_.find(std::get<cv::Mat>(photo), options_.maxPictures, true))
            candidates.push_back(
                {match.page, store_.openSession(match.page->id, request.get_header_value("ApiKey")),
                 match.score});
        response.set_content(pictureSearchReply(candidates), "application/json");
    });

    server_->Put("/v1/clicks", [this](const Request& request, Response& response) {
        const std::string action = request.get_param_value("actionId");
        const std::string session = request.get_header_value("SessionId");
        if (action.empty()) return refuse(response, 400, "the actionId parameter is missing");
        if (session.empty()) return refuse(response, 400, "the SessionId header is missing");
        switch (store_.recordClick(session, action, request.get_header_value("ApiKey"))) {
        case ClickOutcome::counted:
            response.status = 204;
            return;
        case ClickOutcome::unknownSession:
            return refuse(response, 404, "unknown session");
        case ClickOutcome::unknownAction:
            return refuse(response, 404, "the session's page has no action \"" + action + "\"");
        }
    });

    server_->Get("/v1/stats", [this](const Request& request, Response& response) {
        const std::string key = request.get_header_value("ApiKey");
        response.set_content(statsReply(store_.stats(key)), "application/json");
    });
}

int RecognitionService::bind(const std::string& host, int port) {
    const bool bound = port == 0 ? (port = server_->bind_to_any_port(host)) > 0
                                 : server_->bind_to_port(host, port);
    if (!bound) throw std::runtime_error("cannot listen on " + host + ":" + std::to_string(port));
    return port;
}

bool RecognitionService::run() { return stopping_ ? true : server_->listen_after_bind(); }

void RecognitionService::stop() {
    stopping_ = true;
    server_->stop();
}

} // namespace kestrel::devservice
