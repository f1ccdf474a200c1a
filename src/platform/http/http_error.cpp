#include <kestrel/platform/http_error.hpp>

namespace kestrel::platform {

std::string_view errorCodeName(HttpErrorCode code) {
    switch (code) {
    case HttpErrorCode::cancelled:
        return "cancelled";
    case HttpErrorCode::timedOut:
        return "timedOut";
    case HttpErrorCode::invalidRequest:
        return "invalidRequest";
    case HttpErrorCode::unsupportedUrl:
        return "unsupportedUrl";
    case HttpErrorCode::cannotFindHost:
        return "cannotFindHost";
    case HttpErrorCode::cannotConnectToHost:
        return "cannotConnectToHost";
    case HttpErrorCode::networkConnectionLost:
        return "networkConnectionLost";
    case HttpErrorCode::badServerResponse:
        return "badServerResponse";
    case HttpErrorCode::secureConnectionFailed:
        return "secureConnectionFailed";
    case HttpErrorCode::serverCertificateUntrusted:
        return "serverCertificateUntrusted";
    case HttpErrorCode::dataLengthExceedsMaximum:
        return "dataLengthExceedsMaximum";
    case HttpErrorCode::unknown:
        break;
    }
    return "unknown";
}

std::string HttpError::description() const {
    std::string text = "HttpError.";
    text += errorCodeName(code);
    if (!message.empty()) {
        text += ": ";
        // One line, whatever the transport wrote.
        for (char c : message) text += (c == '\r' || c == '\n') ? ' ' : c;
    }
    return text;
}

} // namespace kestrel::platform
