#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "alerts/SmtpAlertMailer.h"
#include "alerts/SmtpClient.h"
#include "alerts/TestMail.h"
#include "support/LoopbackServer.h"
#include "support/ScriptedSmtpServer.h"
#include "support/SpawnedProcess.h"

namespace {

using Lines = std::vector<std::string>;

// The reply to one command, "250 OK" and friends for the rest.
ScriptedSmtpServer::Replies refuse(const std::string& commandPrefix, const std::string& reply) {
    return [=](const std::string& command) {
        return command.starts_with(commandPrefix) ? reply : ScriptedSmtpServer::standardReply(command);
    };
}

class SmtpClient : public ::testing::Test {
  protected:
    void prepare(ScriptedSmtpServer& server) {
        smtp.Host = "127.0.0.1";
        smtp.Port = server.port();
        smtp.UserID = "monitor.test";
        smtp.MailMessage.FromName = "Vardo";
        smtp.MailMessage.FromAddress = "vardo@test";
        smtp.MailMessage.Subject = "Backup down";
        smtp.MailMessage.ToAddress = {"a@test", "b@test"};
        smtp.MailMessage.Body = {"The server Backup went down"};
    }
    // Waits until the server has seen the client close its connection.
    static bool closedBy(const ScriptedSmtpServer& server) {
        return waitUntil([&] {
            const Lines t = server.transcript();
            return !t.empty() && t.back() == "<close>";
        });
    }
    static std::string failureOf(const std::function<void()>& call) {
        try {
            call();
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(no failure)";
    }

    TSmtpClient smtp;
};

TEST_F(SmtpClient, WholeDialogueWithMultiLineRepliesAndEvents) {
    ScriptedSmtpServer server("220-scripted\r\n220-more greeting\r\n220 ready", [](const std::string& c) {
        return c.starts_with("HELO") ? "250-hello\r\n250 welcome" : ScriptedSmtpServer::standardReply(c);
    });
    prepare(server);
    Lines events;
    smtp.OnConnect = [&](TTcpSocket&) { events.push_back("connect"); };
    smtp.OnSendStart = [&](TTcpSocket&) { events.push_back("send start"); };
    smtp.OnSuccess = [&](TTcpSocket&) { events.push_back("success"); };
    smtp.OnFailure = [&](TTcpSocket&) { events.push_back("failure"); };
    smtp.Connect();
    EXPECT_TRUE(smtp.Connected());
    smtp.SendMail();
    smtp.Disconnect();
    EXPECT_FALSE(smtp.Connected());
    EXPECT_EQ(events, (Lines{"connect", "send start", "success"}));
    ASSERT_TRUE(closedBy(server));
    EXPECT_EQ(
        server.transcript(),
        (Lines{"HELO monitor.test", "RSET", "MAIL FROM:<vardo@test>", "RCPT TO:<a@test>", "RCPT TO:<b@test>",
               "DATA", "<data>", "From: Vardo<vardo@test>", "To: a@test,b@test", "Subject: Backup down",
               "Mime-Version: 1.0", "Content-Type: text/plain; charset=us-ascii", "", "",
               "The server Backup went down", ".", "QUIT", "<close>"}));
    // A mail sent clears the recipients and keeps the rest.
    EXPECT_TRUE(smtp.MailMessage.ToAddress.empty());
    EXPECT_EQ(smtp.MailMessage.Body, Lines{"The server Backup went down"});
    EXPECT_EQ(smtp.MailMessage.FromAddress, "vardo@test");
}

TEST_F(SmtpClient, GreetingRefusedSendsQuitAndCloses) {
    ScriptedSmtpServer server("421 too busy, come back later");
    prepare(server);
    bool connected = false;
    smtp.OnConnect = [&](TTcpSocket&) { connected = true; };
    EXPECT_EQ(failureOf([&] { smtp.Connect(); }), "421 too busy, come back later\r\n");
    EXPECT_FALSE(connected);
    EXPECT_FALSE(smtp.Connected());
    EXPECT_FALSE(smtp.Busy());
    ASSERT_TRUE(closedBy(server));
    EXPECT_EQ(server.commands(), Lines{"QUIT"});
}

TEST_F(SmtpClient, HeloRefusedIsAnAuthenticationFailureAskedOnce) {
    ScriptedSmtpServer server("220 ready", refuse("HELO", "501 Syntax: HELO hostname"));
    prepare(server);
    EXPECT_EQ(failureOf([&] { smtp.Connect(); }), "Authentication failed");
    ASSERT_TRUE(closedBy(server));
    EXPECT_EQ(server.commands(), (Lines{"HELO monitor.test", "QUIT"}));

    // A handler that says it handled the refusal gets one more HELO, no more.
    int asked = 0;
    smtp.OnAuthenticationFailed = [&](bool& handled) {
        ++asked;
        handled = true;
    };
    EXPECT_EQ(failureOf([&] { smtp.Connect(); }), "Authentication failed");
    EXPECT_EQ(asked, 1);
    ASSERT_TRUE(waitUntil([&] { return server.commands().size() == 5; }));
    EXPECT_EQ(server.commands(),
              (Lines{"HELO monitor.test", "QUIT", "HELO monitor.test", "HELO monitor.test", "QUIT"}));
}

TEST_F(SmtpClient, ARefusedRecipientDoesNotStopTheMail) {
    ScriptedSmtpServer server("220 ready", refuse("RCPT TO:<a@test>", "550 no such user"));
    prepare(server);
    smtp.MailMessage.ToAddress = {"Ann <a@test>", "b@test"};
    Lines notFound;
    smtp.OnRecipientNotFound = [&](const std::string& r) { notFound.push_back(r); };
    bool success = false;
    smtp.OnSuccess = [&](TTcpSocket&) { success = true; };
    smtp.Connect();
    smtp.SendMail();
    EXPECT_EQ(notFound, Lines{"Ann <a@test>"});
    EXPECT_TRUE(success);
    const Lines c = server.commands();
    EXPECT_EQ(c[3], "RCPT TO:<a@test>");
    EXPECT_EQ(c[4], "RCPT TO:<b@test>");
    EXPECT_EQ(c.back(), ".");
}

TEST_F(SmtpClient, RefusalsOfTheMailCommandsFailWithTheReplyAndKeepTheConnection) {
    const std::pair<std::string, std::string> cases[] = {
        {"RSET", "451 not now"},
        {"MAIL FROM", "553 sender rejected"},
        {"DATA", "554 no valid recipients"},
    };
    for (const auto& [command, reply] : cases) {
        ScriptedSmtpServer server("220 ready", refuse(command, reply));
        prepare(server);
        bool success = false;
        smtp.OnSuccess = [&](TTcpSocket&) { success = true; };
        smtp.Connect();
        EXPECT_EQ(failureOf([&] { smtp.SendMail(); }), reply + "\r\n");
        EXPECT_FALSE(success);
        EXPECT_FALSE(smtp.Busy());
        EXPECT_TRUE(smtp.Connected());
        EXPECT_EQ(server.commands().back().substr(0, command.size()), command);
        EXPECT_EQ(smtp.MailMessage.ToAddress.size(), 2u);  // not cleared: nothing was sent
        smtp.Disconnect();
    }
}

TEST_F(SmtpClient, EndOfDataRefusedFiresOnFailure) {
    ScriptedSmtpServer server("220 ready", refuse(".", "552 too much mail data"));
    prepare(server);
    Lines events;
    smtp.OnFailure = [&](TTcpSocket&) { events.push_back("failure"); };
    smtp.OnSuccess = [&](TTcpSocket&) { events.push_back("success"); };
    smtp.Connect();
    EXPECT_EQ(failureOf([&] { smtp.SendMail(); }), "552 too much mail data\r\n");
    EXPECT_EQ(events, Lines{"failure"});
    EXPECT_EQ(smtp.MailMessage.ToAddress.size(), 2u);
    smtp.Disconnect();
}

TEST_F(SmtpClient, QuitRefusedStillCloses) {
    ScriptedSmtpServer server("220 ready", refuse("QUIT", "500 what?"));
    prepare(server);
    smtp.Connect();
    EXPECT_EQ(failureOf([&] { smtp.Disconnect(); }), "500 what?\r\n");
    EXPECT_FALSE(smtp.Connected());
    EXPECT_TRUE(closedBy(server));
    smtp.Connect();  // the fresh socket connects again at once
    EXPECT_TRUE(smtp.Connected());
    EXPECT_EQ(failureOf([&] { smtp.Disconnect(); }), "500 what?\r\n");
    EXPECT_FALSE(smtp.Connected());
}

TEST_F(SmtpClient, IncompleteHeaderFailsBeforeAnyCommand) {
    ScriptedSmtpServer server;
    prepare(server);
    smtp.Connect();
    smtp.MailMessage.FromAddress.clear();
    int reason = 0;
    smtp.OnHeaderIncomplete = [&](bool&, int r) { reason = r; };
    EXPECT_EQ(failureOf([&] { smtp.SendMail(); }), "Incomplete Header");
    EXPECT_EQ(reason, 1);
    smtp.MailMessage.FromAddress = "vardo@test";
    smtp.MailMessage.ToAddress = {"x@y\r\nRCPT TO:<evil@test>"};
    EXPECT_EQ(failureOf([&] { smtp.SendMail(); }), "Incomplete Header");
    EXPECT_EQ(reason, 2);
    // A handler that fills in what is missing lets the mail go.
    smtp.OnHeaderIncomplete = [&](bool& handled, int) {
        handled = true;
        smtp.MailMessage.ToAddress = {"late@test"};
    };
    smtp.SendMail();
    smtp.Disconnect();
    const Lines c = server.commands();
    ASSERT_GE(c.size(), 4u);
    EXPECT_EQ(c[0], "HELO monitor.test");
    EXPECT_EQ(c[1], "RSET");  // nothing before the completed mail
    EXPECT_EQ(c[3], "RCPT TO:<late@test>");
}

TEST_F(SmtpClient, SendMailNeedsAConnection) {
    EXPECT_EQ(failureOf([&] { smtp.SendMail(); }), "Not Connected");
    EXPECT_FALSE(smtp.Busy());
}

TEST_F(SmtpClient, AServerThatStopsAnsweringIsGivenUpAfterTheTimeLimit) {
    ScriptedSmtpServer server("220 ready", refuse("MAIL FROM", ""));
    prepare(server);
    smtp.TimeOut = 300;
    smtp.Connect();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf([&] { smtp.SendMail(); }), "Socket readln aborted");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10));
    EXPECT_FALSE(smtp.Busy());
    // A late reply would be taken for the answer to QUIT: the client closes without it.
    EXPECT_EQ(failureOf([&] { smtp.Disconnect(); }), "(no failure)");
    EXPECT_FALSE(smtp.Connected());
}

TEST_F(SmtpClient, ASilentGreetingIsGivenUpAfterTheTimeLimit) {
    ScriptedSmtpServer server("", refuse("", ""));
    prepare(server);
    smtp.TimeOut = 300;
    EXPECT_EQ(failureOf([&] { smtp.Connect(); }), "Socket readln aborted");
    EXPECT_FALSE(smtp.Connected());
}

TEST_F(SmtpClient, ADrippingReplyIsGivenUpAfterOneTimeLimit) {
    ScriptedSmtpServer server(ScriptedSmtpServer::kDrip);
    prepare(server);
    smtp.TimeOut = 300;
    // Ends the wait of a client that would give every line a limit of its own.
    std::promise<void> finished;
    std::thread guard([&, done = finished.get_future()] {
        if (done.wait_for(std::chrono::seconds(5)) != std::future_status::ready) {
            smtp.Cancel();
        }
    });
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf([&] { smtp.Connect(); }), "Socket readln aborted");
    const auto took = std::chrono::steady_clock::now() - start;
    finished.set_value();
    guard.join();
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_FALSE(smtp.Connected());
}

// A user alone does not make the dialogue secure: the client says EHLO, but a password never
// goes out in clear, however much the server offers.
TEST_F(SmtpClient, WithoutSecurityAUserGetsEhloButNoLogin) {
    ScriptedSmtpServer server("220 ready", [](const std::string& c) {
        return c.starts_with("EHLO") ? "250-scripted\r\n250-STARTTLS\r\n250 AUTH PLAIN LOGIN"
                                     : ScriptedSmtpServer::standardReply(c);
    });
    prepare(server);
    smtp.User = "alerts";
    smtp.Password = "s3cret";
    smtp.Connect();
    smtp.SendMail();
    smtp.Disconnect();
    ASSERT_TRUE(closedBy(server));
    EXPECT_EQ(server.commands(), (Lines{"EHLO monitor.test", "RSET", "MAIL FROM:<vardo@test>",
                                        "RCPT TO:<a@test>", "RCPT TO:<b@test>", "DATA", ".", "QUIT"}));
}

TEST_F(SmtpClient, ATlsHandshakeThatGetsNoAnswerIsGivenUpAfterTheTimeLimit) {
    LoopbackServer silent(LoopbackServer::silent());
    smtp.Host = "127.0.0.1";
    smtp.Port = silent.port();
    smtp.Security = MailSecurity::Tls;
    smtp.TimeOut = 300;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(failureOf([&] { smtp.Connect(); }), "TLS handshake aborted");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_FALSE(smtp.Connected());
}

// The mail step of the actions on a real client.
TEST(SmtpAlertMailer, ARefusedMailStillClosesItsConnectionSoTheNextOneGoesOut) {
    int dataCount = 0;
    ScriptedSmtpServer server("220 ready", [&](const std::string& c) {
        if (c == "DATA" && ++dataCount == 1) {
            return std::string("554 not this one");
        }
        return ScriptedSmtpServer::standardReply(c);
    });
    std::atomic<std::int32_t> connectState{7};
    SmtpAlertMailer mailer(connectState);
    EXPECT_EQ(mailer.client().UserID, localHostName());
    AlertMail mail{"127.0.0.1", "vardo@test",           "Vardo", "subject", "body",
                   {"a@test"},  {.port = server.port()}};
    mailer.sendAlertMail(mail);
    EXPECT_FALSE(mailer.client().Connected());
    EXPECT_EQ(connectState, 0);  // set to 0 after the connection, before the send
    mailer.sendAlertMail(mail);
    EXPECT_EQ(connectState, 2);  // the mail was accepted
    EXPECT_EQ(server.connections(), 2);
    const Lines c = server.commands();
    EXPECT_EQ(std::count(c.begin(), c.end(), "."), 1);
    EXPECT_EQ(std::count(c.begin(), c.end(), "QUIT"), 2);
}

TEST(SmtpAlertMailer, UnreachableServerSetsTheFailedState) {
    std::atomic<std::int32_t> connectState{0};
    SmtpAlertMailer mailer(connectState);
    std::uint16_t port = 0;
    {
        ScriptedSmtpServer gone;
        port = gone.port();
    }
    mailer.sendAlertMail(AlertMail{"127.0.0.1", "vardo@test", "", "", "body", {"a@test"}, {.port = port}});
    EXPECT_EQ(connectState, 2);
    EXPECT_FALSE(mailer.client().Connected());
}

TEST(SmtpAlertMailer, CancelEndsAStalledDialogueAtOnce) {
    ScriptedSmtpServer server("220 ready", refuse("RSET", ""));
    std::atomic<std::int32_t> connectState{0};
    SmtpAlertMailer mailer(connectState);
    std::atomic<bool> done{false};
    std::thread monitor([&] {
        mailer.sendAlertMail(
            AlertMail{"127.0.0.1", "vardo@test", "", "", "body", {"a@test"}, {.port = server.port()}});
        done = true;
    });
    ASSERT_TRUE(waitUntil([&] {
        const Lines c = server.commands();
        return !c.empty() && c.back() == "RSET";
    }));
    const auto start = std::chrono::steady_clock::now();
    while (!done && std::chrono::steady_clock::now() - start < std::chrono::seconds(10)) {
        mailer.cancel();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    monitor.join();
    EXPECT_TRUE(done);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));  // far below the 60 s limit
    EXPECT_FALSE(mailer.client().Connected());
}

// Closing the window while a test mail waits for its server: the cancel returns once the
// send has, and at once rather than after the time limit.
TEST(TestMailSender, CancelEndsAStalledTestMailAndWaitsForIt) {
    ScriptedSmtpServer server("220 ready", refuse("RSET", ""));
    ServerCfg cfg;
    cfg.mailServer = "127.0.0.1";
    cfg.fromAddress = "vardo@test";
    TestMailSender sender;
    TestMailResult result;
    std::thread window([&] { result = sender.send(testMail(cfg, {.port = server.port()}, "a@test", 0)); });
    ASSERT_TRUE(waitUntil([&] {
        const Lines c = server.commands();
        return !c.empty() && c.back() == "RSET";
    }));
    const auto start = std::chrono::steady_clock::now();
    sender.cancel();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    window.join();
    EXPECT_FALSE(result.sent);
    EXPECT_EQ(result.text, "Socket readln aborted");
}

TEST(TestMailSender, ARefusedRecipientIsNamedAndTheMailNotCalledSent) {
    ScriptedSmtpServer server("220 ready", refuse("RCPT TO:<a@test>", "550 no such user"));
    ServerCfg cfg;
    cfg.mailServer = "127.0.0.1";
    cfg.fromAddress = "vardo@test";
    const TestMailResult result = sendTestMail(cfg, {.port = server.port()}, "a@test,b@test", 0);
    EXPECT_FALSE(result.sent);
    EXPECT_EQ(result.text,
              "the mail server refused a@test (550 no such user); the other recipients were sent it: 250 OK");
}

}  // namespace
