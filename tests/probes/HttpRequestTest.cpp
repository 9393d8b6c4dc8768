// The HTTP client against scripted servers on 127.0.0.1: what goes over the wire, what comes
// back, and every way a request ends without an answer.
#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <mutex>
#include <thread>

#include "probes/HttpRequest.h"
#include "support/LoopbackServer.h"

namespace {

std::string urlOf(const LoopbackServer& server, const std::string& path = "/") {
    return "http://127.0.0.1:" + std::to_string(server.port()) + path;
}

TEST(HttpClient, SendsMethodHeadersAndBodyAndKeepsAtMostMaxBodyOfTheAnswer) {
    std::mutex mutex;
    std::string seen;
    LoopbackServer server([&](PeerConnection& peer) {
        std::string request = peer.receiveUntil("\r\n\r\n");
        request += peer.receive(5);
        {
            std::lock_guard lock(mutex);
            seen = request;
        }
        peer.send("HTTP/1.1 201 Created\r\nContent-Length: 10\r\n\r\n0123456789");
        peer.holdOpen();
    });
    HttpRequest request;
    request.method = "PUT";
    request.url = urlOf(server, "/rooms/a%21/send");
    request.headers = {"Content-Type: application/json", "X-Token: t"};
    request.body = "{\"a\"}";
    request.maxBody = 4;
    HttpClient client;
    const HttpResponse response = client.perform(request);

    EXPECT_EQ(response.failure, HttpResponse::Failure::None) << response.error;
    EXPECT_EQ(response.status, 201);
    EXPECT_EQ(response.body, "0123");
    EXPECT_TRUE(response.bodyCut);
    std::lock_guard lock(mutex);
    EXPECT_EQ(seen.rfind("PUT /rooms/a%21/send HTTP/1.1\r\n", 0), 0U) << seen;
    EXPECT_NE(seen.find("\r\nContent-Type: application/json\r\n"), std::string::npos);
    EXPECT_NE(seen.find("\r\nX-Token: t\r\n"), std::string::npos);
    EXPECT_EQ(seen.find("Expect:"), std::string::npos);
    EXPECT_EQ(seen.substr(seen.size() - 5), "{\"a\"}");
}

TEST(HttpClient, FollowsRedirectsUpToTheLimitOnly) {
    LoopbackServer server([](PeerConnection& peer) {
        while (!peer.receiveUntil("\r\n\r\n").empty()) {
            peer.send("HTTP/1.1 302 Found\r\nLocation: /again\r\nContent-Length: 0\r\n\r\n");
        }
    });
    HttpClient client;
    HttpRequest request;
    request.url = urlOf(server);
    EXPECT_EQ(client.perform(request).status, 302);  // none followed: the redirect is the answer
    request.maxRedirects = 3;
    const HttpResponse response = client.perform(request);
    EXPECT_EQ(response.failure, HttpResponse::Failure::TooManyRedirects);
    EXPECT_FALSE(response.error.empty());
}

TEST(HttpClient, NamesARefusedConnectionATimeOutAndACancel) {
    HttpClient client;
    RefusingPort refusing;
    HttpRequest request;
    request.url = "http://127.0.0.1:" + std::to_string(refusing.port()) + "/";
    EXPECT_EQ(client.perform(request).failure, HttpResponse::Failure::Refused);

    LoopbackServer silent(LoopbackServer::silent());
    request.url = urlOf(silent);
    request.totalTimeout = std::chrono::milliseconds(300);
    EXPECT_EQ(client.perform(request).failure, HttpResponse::Failure::TimedOut);

    // A cancel ends a request that would wait a minute, and every later one until reset.
    request.totalTimeout = std::chrono::minutes(1);
    auto pending = std::async(std::launch::async, [&] { return client.perform(request); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client.cancel();
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(pending.get().failure, HttpResponse::Failure::Cancelled);
    EXPECT_EQ(client.perform(request).failure, HttpResponse::Failure::Cancelled);
    client.resetCancel();
    request.url = "http://127.0.0.1:" + std::to_string(refusing.port()) + "/";
    EXPECT_EQ(client.perform(request).failure, HttpResponse::Failure::Refused);
}

}  // namespace
