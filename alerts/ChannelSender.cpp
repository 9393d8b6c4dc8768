#include "alerts/ChannelSender.h"

#include <array>
#include <utility>

namespace {

constexpr std::size_t kMostTokenBytes = 4096;

std::string statusText(long status) {
    static constexpr std::array<std::pair<long, const char*>, 14> kReasons{{{400, "Bad Request"},
                                                                            {401, "Unauthorized"},
                                                                            {403, "Forbidden"},
                                                                            {404, "Not Found"},
                                                                            {405, "Method Not Allowed"},
                                                                            {408, "Request Timeout"},
                                                                            {413, "Content Too Large"},
                                                                            {422, "Unprocessable Content"},
                                                                            {429, "Too Many Requests"},
                                                                            {500, "Internal Server Error"},
                                                                            {502, "Bad Gateway"},
                                                                            {503, "Service Unavailable"},
                                                                            {504, "Gateway Timeout"},
                                                                            {301, "Moved Permanently"}}};
    std::string text = "HTTP " + std::to_string(status);
    for (const auto& [code, reason] : kReasons) {
        if (code == status) {
            text += std::string(" ") + reason;
        }
    }
    return text;
}

std::string failureText(const HttpResponse& r, const std::string& token) {
    switch (r.failure) {
        case HttpResponse::Failure::Refused:
            return "connection refused";
        case HttpResponse::Failure::TimedOut:
            return "no answer in time";
        case HttpResponse::Failure::HostNotFound:
            return "host not found";
        case HttpResponse::Failure::TooManyRedirects:
            return "redirected";
        case HttpResponse::Failure::TlsNotTrusted:
            return "certificate not trusted";
        case HttpResponse::Failure::TlsNameMismatch:
            return "certificate is not for this host";
        default:
            return withoutSecret(r.error, token);
    }
}

}  // namespace

ChannelTry ChannelSender::send(const ChannelSettings& channel, const ChannelMessage& message,
                               const std::string& txn) {
    if (cancelled_) {
        return {ChannelTry::Result::Cancelled, "program closing"};
    }
    std::string token = channel.token;
    if (!channel.tokenCommand.empty()) {
        CommandOutput out = tokenCommand_.run(channel.tokenCommand, timeout_, kMostTokenBytes);
        if (cancelled_) {
            return {ChannelTry::Result::Cancelled, "program closing"};
        }
        while (!out.output.empty() && (out.output.back() == '\n' || out.output.back() == '\r' ||
                                       out.output.back() == ' ' || out.output.back() == '\t')) {
            out.output.pop_back();
        }
        if (!out.ok || out.output.empty()) {
            return {ChannelTry::Result::Failed,
                    "the token command failed" + (out.error.empty() ? std::string() : ": " + out.error)};
        }
        token = std::move(out.output);
    }
    HttpRequest request = channelRequest(channel, token, message, txn);
    request.connectTimeout = timeout_;
    request.totalTimeout = timeout_;
    request.maxBody = 64 * 1024;
    const HttpResponse response = client_.perform(request);
    using F = HttpResponse::Failure;
    if (response.failure == F::Cancelled || cancelled_) {
        return {ChannelTry::Result::Cancelled, "program closing"};
    }
    if (response.failure == F::None && response.status >= 200 && response.status < 300) {
        return {ChannelTry::Result::Sent, {}};
    }
    if (response.failure != F::None) {
        const bool again = response.failure == F::TimedOut || response.failure == F::Refused;
        return {again ? ChannelTry::Result::WorthAnotherTry : ChannelTry::Result::Failed,
                failureText(response, token)};
    }
    const bool again = response.status == 408 || response.status == 429 || response.status >= 500;
    return {again ? ChannelTry::Result::WorthAnotherTry : ChannelTry::Result::Failed, statusText(response.status)};
}

void ChannelSender::cancel() {
    cancelled_ = true;
    client_.cancel();
    tokenCommand_.cancel();
}

ChannelTestResult sendChannelTest(const ChannelSettings& channel, std::time_t now) {
    ChannelSender sender;
    const auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    const ChannelTry outcome =
        sender.send(channel, testMessage(now), "test-" + std::to_string(now) + "-" + std::to_string(stamp));
    if (outcome.result == ChannelTry::Result::Sent) {
        return {true, "The test notification was delivered to " + channel.name + "."};
    }
    return {false, "The test notification to " + channel.name + " failed: " + outcome.reason};
}
