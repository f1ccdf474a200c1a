#include <kestrel/service/failure.hpp>
#include <kestrel/service/kestrel_extensions.hpp>

namespace kestrel {

namespace {

using platform::HttpErrorCode;

std::string transportText(const std::optional<platform::HttpError>& error) {
    switch (error ? error->code : HttpErrorCode::unknown) {
    case HttpErrorCode::cannotConnectToHost:
        return "the connection to the service was refused or the host is unreachable";
    case HttpErrorCode::cannotFindHost:
        return "the service's host name did not resolve";
    case HttpErrorCode::timedOut:
        return "the service did not answer in time";
    case HttpErrorCode::networkConnectionLost:
        return "the connection to the service broke before the reply was complete";
    case HttpErrorCode::badServerResponse:
        return "the service's reply is not valid HTTP";
    case HttpErrorCode::secureConnectionFailed:
        return "the secure connection to the service failed";
    case HttpErrorCode::dataLengthExceedsMaximum:
        return "the service's reply is larger than allowed";
    case HttpErrorCode::invalidRequest:
    case HttpErrorCode::unsupportedUrl:
        return "the request could not be sent";
    default:
        return "the exchange with the service failed";
    }
}

} // namespace

std::string_view causeName(FailureCause cause) {
    switch (cause) {
    case FailureCause::missingApiKey:
        return "missingApiKey";
    case FailureCause::missingPhoto:
        return "missingPhoto";
    case FailureCause::missingLanguage:
        return "missingLanguage";
    case FailureCause::missingIdentifier:
        return "missingIdentifier";
    case FailureCause::missingAppVersion:
        return "missingAppVersion";
    case FailureCause::photoNotEncodable:
        return "photoNotEncodable";
    case FailureCause::unreadablePhoto:
        return "unreadablePhoto";
    case FailureCause::missingAddress:
        return "missingAddress";
    case FailureCause::badAddress:
        return "badAddress";
    case FailureCause::unsafeHeaderValue:
        return "unsafeHeaderValue";
    case FailureCause::untrustedCertificate:
        return "untrustedCertificate";
    case FailureCause::transport:
        return "transport";
    case FailureCause::httpStatus:
        return "httpStatus";
    case FailureCause::undecodableReply:
        return "undecodableReply";
    case FailureCause::emptyReply:
        return "emptyReply";
    case FailureCause::cancelled:
        return "cancelled";
    }
    return "unknown";
}

std::string Failure::description() const {
    std::string text = causeDescription();
    if (queuedForRetry) text += "; the click report is queued for retry";
    return text;
}

std::string Failure::causeDescription() const {
    const auto withTransport = [this](std::string text) {
        if (transportError) text += " (" + transportError->description() + ")";
        return text;
    };
    switch (cause) {
    case FailureCause::missingApiKey:
        return "the API key is missing: none is stored";
    case FailureCause::missingPhoto:
        return "no photo was given";
    case FailureCause::missingLanguage:
        return "the user has no preferred language";
    case FailureCause::missingIdentifier:
        return "the session or action identifier is empty";
    case FailureCause::missingAppVersion:
        return "the host's information has no \"CFBundleShortVersionString\"";
    case FailureCause::photoNotEncodable:
        return "the photo could not be compressed as JPEG";
    case FailureCause::unreadablePhoto:
        return "the photo could not be read as a JPEG or PNG image";
    case FailureCause::missingAddress:
        return "no service address is configured for the call";
    case FailureCause::badAddress:
        return "the configured service address is not an http(s) URL";
    case FailureCause::unsafeHeaderValue:
        return "the API key or session identifier holds a line break or NUL";
    case FailureCause::untrustedCertificate:
        return withTransport("the service's certificate is not trusted");
    case FailureCause::transport:
        return withTransport(transportText(transportError));
    case FailureCause::httpStatus:
        return "the service answered with status " + std::to_string(httpStatus);
    case FailureCause::undecodableReply:
        return "the service's reply does not decode: " + detail;
    case FailureCause::emptyReply:
        return "the service's reply holds no recognised page";
    case FailureCause::cancelled:
        return "the call was cancelled";
    }
    return "the call failed";
}

std::string Failure::localizedDescription() const {
    const std::string key = "failure." + std::string(causeName(cause));
    std::string text = tr(key);
    return text == key ? description() : text;
}

} // namespace kestrel
