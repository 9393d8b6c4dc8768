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

TEST(HttpClient, ACancelFromAnotherThreadEndsTheRequestAndEveryLaterOneUntilReset) {
    // The failures a web check names (refused, timed out, a cancel) are tested with the check.
    HttpClient client;
    LoopbackServer silent(LoopbackServer::silent());
    HttpRequest request;
    request.url = urlOf(silent);
    request.totalTimeout = std::chrono::minutes(1);
    auto pending = std::async(std::launch::async, [&] { return client.perform(request); });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    client.cancel();
    ASSERT_EQ(pending.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(pending.get().failure, HttpResponse::Failure::Cancelled);
    EXPECT_EQ(client.perform(request).failure, HttpResponse::Failure::Cancelled);
    client.resetCancel();
    RefusingPort refusing;
    request.url = "http://127.0.0.1:" + std::to_string(refusing.port()) + "/";
    EXPECT_EQ(client.perform(request).failure, HttpResponse::Failure::Refused);
}

}  // namespace
