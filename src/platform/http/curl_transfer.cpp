#include "platform/http/curl_transfer.hpp"

#include "platform/http/header_lookup.hpp"

#include <openssl/ssl.h>

#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>
#if defined(__linux__)
#include <linux/sockios.h>
#endif

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrel::platform::detail {

namespace {

// RFC 9110 token characters: what a method or a header name may hold.
bool isToken(std::string_view text) {
    if (text.empty()) return false;
    return std::all_of(text.begin(), text.end(), [](unsigned char c) {
        if (c >= '0' && c <= '9') return true;
        if ((c | 0x20) >= 'a' && (c | 0x20) <= 'z') return true;
        return std::string_view("!#$%&'*+-.^_`|~").find(static_cast<char>(c)) !=
               std::string_view::npos;
    });
}

bool holdsLineBreakOrNul(std::string_view text) {
    return text.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos;
}

HttpErrorCode codeFor(CURLcode result) {
    switch (result) {
    case CURLE_COULDNT_RESOLVE_HOST:
        return HttpErrorCode::cannotFindHost;
    case CURLE_COULDNT_RESOLVE_PROXY:
    case CURLE_COULDNT_CONNECT:
        return HttpErrorCode::cannotConnectToHost;
    case CURLE_OPERATION_TIMEDOUT:
        return HttpErrorCode::timedOut;
    case CURLE_PEER_FAILED_VERIFICATION:
        return HttpErrorCode::serverCertificateUntrusted;
    case CURLE_SSL_CONNECT_ERROR:
    case CURLE_SSL_CERTPROBLEM:
    case CURLE_SSL_CIPHER:
    case CURLE_SSL_ENGINE_NOTFOUND:
    case CURLE_SSL_ENGINE_SETFAILED:
    case CURLE_SSL_ENGINE_INITFAILED:
    case CURLE_SSL_CACERT_BADFILE:
    case CURLE_SSL_SHUTDOWN_FAILED:
    case CURLE_SSL_CRL_BADFILE:
    case CURLE_SSL_ISSUER_ERROR:
    case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
    case CURLE_SSL_INVALIDCERTSTATUS:
    case CURLE_SSL_CLIENTCERT:
    case CURLE_USE_SSL_FAILED:
        return HttpErrorCode::secureConnectionFailed;
    case CURLE_PARTIAL_FILE:
    case CURLE_RECV_ERROR:
    case CURLE_SEND_ERROR:
    case CURLE_GOT_NOTHING:
    case CURLE_HTTP2_STREAM:
        return HttpErrorCode::networkConnectionLost;
    case CURLE_WEIRD_SERVER_REPLY:
    case CURLE_HTTP2:
    case CURLE_BAD_CONTENT_ENCODING:
        return HttpErrorCode::badServerResponse;
    case CURLE_FILESIZE_EXCEEDED:
        return HttpErrorCode::dataLengthExceedsMaximum;
    case CURLE_UNSUPPORTED_PROTOCOL:
        return HttpErrorCode::unsupportedUrl;
    case CURLE_URL_MALFORMAT:
        return HttpErrorCode::invalidRequest;
    default:
        return HttpErrorCode::unknown;
    }
}

struct UrlParts {
    std::string scheme;
    std::string host;
    int port = 0;
};

// Absent for an address that does not parse; host empty when it names none.
std::optional<UrlParts> parseUrl(const std::string& url) {
    CURLU* parsed = curl_url();
    if (parsed == nullptr) return std::nullopt;
    std::optional<UrlParts> parts;
    char* scheme = nullptr;
    char* host = nullptr;
    char* port = nullptr;
    // No guessing of a missing scheme: the address must be complete as it stands.
    if (curl_url_set(parsed, CURLUPART_URL, url.c_str(), 0) == CURLUE_OK &&
        curl_url_get(parsed, CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK) {
        parts = UrlParts{scheme, {}, 0};
        if (curl_url_get(parsed, CURLUPART_HOST, &host, CURLU_PUNYCODE) == CURLUE_OK &&
            curl_url_get(parsed, CURLUPART_PORT, &port, CURLU_DEFAULT_PORT) == CURLUE_OK) {
            parts->host = host;
            parts->port = std::atoi(port);
        }
        if (parts->host.size() > 2 && parts->host.front() == '[' && parts->host.back() == ']')
            parts->host = parts->host.substr(1, parts->host.size() - 2);
    }
    curl_free(scheme);
    curl_free(host);
    curl_free(port);
    curl_url_cleanup(parsed);
    return parts;
}

} // namespace

CurlTransfer::CurlTransfer(std::uint64_t id, std::shared_ptr<const HttpRequest> request,
                           TransferLimits limits, TransferHost& engine)
    : id_(id), request_(std::move(request)), limits_(limits), engine_(engine) {}

CurlTransfer::~CurlTransfer() {
    if (easy_ != nullptr) curl_easy_cleanup(easy_);
    if (headerList_ != nullptr) curl_slist_free_all(headerList_);
}

std::variant<std::unique_ptr<CurlTransfer>, Outcome>
CurlTransfer::make(std::uint64_t id, std::shared_ptr<const HttpRequest> request,
                   std::chrono::duration<double> defaultTimeout, std::size_t maximumBodySize,
                   TransferHost& engine) {
    std::unique_ptr<CurlTransfer> transfer(new CurlTransfer(
        id, std::move(request), {Clock::duration::zero(), maximumBodySize}, engine));
    if (auto failed = transfer->configure(defaultTimeout)) return std::move(*failed);
    return transfer;
}

std::optional<Outcome> CurlTransfer::configure(std::chrono::duration<double> defaultTimeout) {
    const HttpRequest& request = *request_;

    const auto timeout = request.timeoutInterval.value_or(defaultTimeout);
    // Longer than a year is as good as never; the bound keeps the conversion below defined.
    if (!(timeout.count() > 0.0) || timeout.count() > 3.2e7)
        return Outcome::failure(HttpErrorCode::invalidRequest, "the time-out must be positive");
    limits_.timeout = std::chrono::duration_cast<Clock::duration>(timeout);

    const auto url = parseUrl(request.url);
    if (!url)
        return Outcome::failure(HttpErrorCode::invalidRequest, "malformed URL: " + request.url);
    if (url->scheme != "http" && url->scheme != "https")
        return Outcome::failure(HttpErrorCode::unsupportedUrl,
                                "unsupported scheme: " + url->scheme);
    if (url->host.empty())
        return Outcome::failure(HttpErrorCode::invalidRequest, "no host in URL: " + request.url);
    host_ = url->host;
    port_ = url->port;

    if (!isToken(request.httpMethod))
        return Outcome::failure(HttpErrorCode::invalidRequest, "malformed HTTP method");
    for (const auto& header : request.headers) {
        if (!isToken(header.name))
            return Outcome::failure(HttpErrorCode::invalidRequest, "malformed header name");
        if (holdsLineBreakOrNul(header.value))
            return Outcome::failure(HttpErrorCode::invalidRequest,
                                    "header " + header.name + " holds a line break or NUL");
    }

    // Headers in the order given; "Name;" is libcurl's way of sending an empty value.
    for (const auto& header : request.headers) {
        const std::string line =
            header.value.empty() ? header.name + ";" : header.name + ": " + header.value;
        curl_slist* extended = curl_slist_append(headerList_, line.c_str());
        if (extended == nullptr) return Outcome::failure(HttpErrorCode::unknown, "out of memory");
        headerList_ = extended;
    }
    // libcurl would add a form Content-Type to every body and "Expect: 100-continue" to large
    // ones; neither was asked for. "Name:" removes a header libcurl adds on its own.
    for (const char* own : {"Content-Type", "Expect"}) {
        if (firstHeaderValue(request.headers, own)) continue;
        curl_slist* extended = curl_slist_append(headerList_, (std::string(own) + ":").c_str());
        if (extended == nullptr) return Outcome::failure(HttpErrorCode::unknown, "out of memory");
        headerList_ = extended;
    }

    easy_ = curl_easy_init();
    if (easy_ == nullptr) return Outcome::failure(HttpErrorCode::unknown, "out of memory");
    const long timeoutMs = static_cast<long>(std::ceil(timeout.count() * 1000.0));

    curl_easy_setopt(easy_, CURLOPT_PRIVATE, this);
    curl_easy_setopt(easy_, CURLOPT_ERRORBUFFER, errorBuffer_);
    curl_easy_setopt(easy_, CURLOPT_NOSIGNAL, 1L);
    curl_easy_setopt(easy_, CURLOPT_URL, request.url.c_str());
    curl_easy_setopt(easy_, CURLOPT_PROTOCOLS_STR, "http,https");
    curl_easy_setopt(easy_, CURLOPT_FOLLOWLOCATION, 0L);
    curl_easy_setopt(easy_, CURLOPT_HTTP_VERSION, static_cast<long>(CURL_HTTP_VERSION_2TLS));
    curl_easy_setopt(easy_, CURLOPT_ACCEPT_ENCODING, "");
    curl_easy_setopt(easy_, CURLOPT_SUPPRESS_CONNECT_HEADERS, 1L);
    curl_easy_setopt(easy_, CURLOPT_HTTPHEADER, headerList_);
    curl_easy_setopt(easy_, CURLOPT_CONNECTTIMEOUT_MS, timeoutMs);
    curl_easy_setopt(easy_, CURLOPT_MAXFILESIZE_LARGE,
                     static_cast<curl_off_t>(std::min<std::size_t>(
                         limits_.maximumBodySize,
                         static_cast<std::size_t>(std::numeric_limits<curl_off_t>::max()))));

    if (request.httpMethod == "HEAD") {
        curl_easy_setopt(easy_, CURLOPT_NOBODY, 1L);
    } else {
        curl_easy_setopt(easy_, CURLOPT_CUSTOMREQUEST, request.httpMethod.c_str());
        // Methods that carry content get a Content-Length even without a body, as servers that
        // insist on one (411) expect.
        const bool carriesContent = request.httpMethod == "POST" || request.httpMethod == "PUT" ||
                                    request.httpMethod == "PATCH";
        if (request.httpBody || carriesContent) {
            static const char empty[] = "";
            const std::string* body = request.httpBody ? &*request.httpBody : nullptr;
            curl_easy_setopt(easy_, CURLOPT_POSTFIELDSIZE_LARGE,
                             static_cast<curl_off_t>(body ? body->size() : 0));
            curl_easy_setopt(easy_, CURLOPT_POSTFIELDS, body ? body->data() : empty);
        }
    }

    curl_easy_setopt(easy_, CURLOPT_WRITEFUNCTION, &CurlTransfer::onBody);
    curl_easy_setopt(easy_, CURLOPT_WRITEDATA, this);
    curl_easy_setopt(easy_, CURLOPT_HEADERFUNCTION, &CurlTransfer::onHeader);
    curl_easy_setopt(easy_, CURLOPT_HEADERDATA, this);
    curl_easy_setopt(easy_, CURLOPT_NOPROGRESS, 0L);
    curl_easy_setopt(easy_, CURLOPT_XFERINFOFUNCTION, &CurlTransfer::onProgress);
    curl_easy_setopt(easy_, CURLOPT_XFERINFODATA, this);
    curl_easy_setopt(easy_, CURLOPT_SOCKOPTFUNCTION, &CurlTransfer::onSocketOpened);
    curl_easy_setopt(easy_, CURLOPT_SOCKOPTDATA, this);
    // The connection may outlive this transfer: its close callback goes to the engine.
    curl_easy_setopt(easy_, CURLOPT_CLOSESOCKETFUNCTION, &TransferHost::closeSocket);
    curl_easy_setopt(easy_, CURLOPT_CLOSESOCKETDATA, static_cast<TransferHost*>(&engine_));
    curl_easy_setopt(easy_, CURLOPT_PREREQFUNCTION, &CurlTransfer::onConnected);
    curl_easy_setopt(easy_, CURLOPT_PREREQDATA, this);

    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYPEER, 1L);
    curl_easy_setopt(easy_, CURLOPT_SSL_VERIFYHOST, 2L);
    curl_easy_setopt(easy_, CURLOPT_SSL_CTX_FUNCTION, &CurlTransfer::onSslContext);
    curl_easy_setopt(easy_, CURLOPT_SSL_CTX_DATA, this);
    return std::nullopt;
}

std::optional<Clock::time_point> CurlTransfer::idleDeadline() const {
    if (!connected_) return std::nullopt;
    return lastProgress_ + limits_.timeout;
}

int TransferHost::closeSocket(void* clientp, curl_socket_t socket) {
    static_cast<TransferHost*>(clientp)->forgetSocket(socket);
    return ::close(socket);
}

void CurlTransfer::abortConnectionOnClose() {
    if (socket_ == CURL_SOCKET_BAD) return;
    const ::linger abortive{1, 0};
    ::setsockopt(socket_, SOL_SOCKET, SO_LINGER, &abortive, sizeof abortive);
}

void CurlTransfer::sampleSendQueue() {
#if defined(SIOCOUTQ)
    if (socket_ == CURL_SOCKET_BAD) return;
    int queued = 0;
    if (::ioctl(socket_, SIOCOUTQ, &queued) != 0) return;
    if (queued != sendQueue_) {
        sendQueue_ = queued;
        progressed();
    }
#endif
}

void CurlTransfer::stop(StopReason reason, std::string message) {
    if (stopReason_ != StopReason::none && stopReason_ != StopReason::awaitingTrust) return;
    stopReason_ = reason;
    stopMessage_ = std::move(message);
}

Outcome CurlTransfer::finish(CURLcode result) {
    switch (stopReason_) {
    case StopReason::timedOut:
        return Outcome::failure(HttpErrorCode::timedOut, stopMessage_);
    case StopReason::bodyTooLarge:
        return Outcome::failure(HttpErrorCode::dataLengthExceedsMaximum, stopMessage_);
    case StopReason::trustRejected:
        return Outcome::failure(HttpErrorCode::serverCertificateUntrusted, stopMessage_);
    case StopReason::trustCancelled:
        return Outcome::failure(HttpErrorCode::cancelled, stopMessage_);
    case StopReason::awaitingTrust:
        return Outcome::failure(HttpErrorCode::cancelled,
                                "the server-trust challenge was not answered");
    case StopReason::notResent:
        return Outcome::failure(HttpErrorCode::networkConnectionLost, stopMessage_);
    case StopReason::none:
        break;
    }
    if (result != CURLE_OK) {
        std::string message = errorBuffer_[0] != '\0' ? errorBuffer_ : curl_easy_strerror(result);
        if (result == CURLE_FILESIZE_EXCEEDED)
            message = "the reply body is larger than " + std::to_string(limits_.maximumBodySize) +
                      " bytes";
        return Outcome::failure(codeFor(result), std::move(message));
    }
    HttpResponse response;
    long status = 0;
    curl_easy_getinfo(easy_, CURLINFO_RESPONSE_CODE, &status);
    response.statusCode = static_cast<int>(status);
    char* effectiveUrl = nullptr;
    curl_easy_getinfo(easy_, CURLINFO_EFFECTIVE_URL, &effectiveUrl);
    response.url = effectiveUrl != nullptr ? effectiveUrl : request_->url;
    response.headers = std::move(headers_);
    return Outcome{std::move(body_), std::move(response), std::nullopt};
}

std::size_t CurlTransfer::onBody(char* data, std::size_t size, std::size_t count, void* self) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    const std::size_t length = size * count;
    transfer.progressed();
    if (length > transfer.limits_.maximumBodySize - transfer.body_.size()) {
        transfer.stop(StopReason::bodyTooLarge,
                      "the reply body is larger than " +
                          std::to_string(transfer.limits_.maximumBodySize) + " bytes");
        return CURL_WRITEFUNC_ERROR;
    }
    transfer.body_.append(data, length);
    return length;
}

std::size_t CurlTransfer::onHeader(char* data, std::size_t size, std::size_t count, void* self) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    const std::size_t length = size * count;
    transfer.progressed();
    addHeaderLine(transfer.headers_, std::string_view(data, length));
    return length;
}

int CurlTransfer::onProgress(void* self, curl_off_t, curl_off_t dlNow, curl_off_t,
                             curl_off_t ulNow) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    if (dlNow != transfer.downloaded_ || ulNow != transfer.uploaded_) {
        transfer.downloaded_ = dlNow;
        transfer.uploaded_ = ulNow;
        transfer.progressed();
    }
    return 0;
}

int CurlTransfer::onSocketOpened(void* self, curl_socket_t socket, curlsocktype purpose) {
    if (purpose == CURLSOCKTYPE_IPCXN)
        static_cast<CurlTransfer*>(self)->openedSockets_.push_back(socket);
    return CURL_SOCKOPT_OK;
}

int CurlTransfer::onConnected(void* self, char* primaryIp, char* localIp, int primaryPort,
                              int localPort) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    // libcurl sends a request again on a fresh connection when a reused one closed without a
    // reply. The service may have received and acted on the first copy (counted a click,
    // recognised a photo), so the exchange fails instead of being repeated behind the caller.
    if (transfer.connected_) {
        transfer.stop(StopReason::notResent,
                      "the connection closed before the reply; the request is not sent again");
        return CURL_PREREQFUNC_ABORT;
    }
    const std::string connection = std::string(localIp) + "|" + std::to_string(localPort) + "|" +
                                   primaryIp + "|" + std::to_string(primaryPort);
    transfer.socket_ =
        transfer.engine_.connectionSocket(connection, localPort, transfer.openedSockets_);
    transfer.connected_ = true;
    transfer.progressed();
    return CURL_PREREQFUNC_OK;
}

CURLcode CurlTransfer::onSslContext(CURL*, void* sslContext, void* self) {
    // libcurl makes one SSL_CTX per connection, so the callback argument names the transfer
    // whose handshake it is.
    SSL_CTX_set_cert_verify_callback(static_cast<SSL_CTX*>(sslContext),
                                     &CurlTransfer::onCertificateChain, self);
    return CURLE_OK;
}

int CurlTransfer::onCertificateChain(X509_STORE_CTX* context, void* self) {
    auto& transfer = *static_cast<CurlTransfer*>(self);
    const TrustVerdict verdict = transfer.engine_.evaluateServerTrust(transfer, context);
    // Waiting here would hold up every transfer of the session, and libcurl cannot suspend a
    // handshake, so this one is given up before a byte of the request is sent; the engine starts
    // the transfer again once the delegate has answered.
    if (verdict == TrustVerdict::awaitAnswer) transfer.stop(StopReason::awaitingTrust);
    const bool proceed = verdict == TrustVerdict::proceed;
    // libcurl reads the verification result after the handshake; it must agree with the answer.
    X509_STORE_CTX_set_error(context, proceed ? X509_V_OK : X509_V_ERR_APPLICATION_VERIFICATION);
    return proceed ? 1 : 0;
}

} // namespace kestrel::platform::detail

namespace kestrel::platform {

bool isHttpUrl(const std::string& text) {
    const auto url = detail::parseUrl(text);
    return url && (url->scheme == "http" || url->scheme == "https") && !url->host.empty();
}

} // namespace kestrel::platform
