#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "alerts/SmtpAlertMailer.h"
#include "alerts/SmtpClient.h"
#include "support/AiosmtpdServer.h"

namespace {

// A real mail server (aiosmtpd) receives what the client sends.
TEST(SmtpDelivery, OneMailForThreeRecipientsArrivesAsSent) {
    AiosmtpdServer server;
    TSmtpClient smtp;
    smtp.Host = "127.0.0.1";
    smtp.Port = server.port();
    smtp.UserID = "monitor.test";
    smtp.MailMessage.FromName = "Vardo";
    smtp.MailMessage.FromAddress = "vardo@test.example";
    smtp.MailMessage.Subject = "Backup down";
    smtp.MailMessage.ToAddress = {"Ops <ops@test.example>", "dev@test.example", "x:boss@test.example"};
    smtp.MailMessage.Body = {"The server Backup went down\r\n.\r\n.hidden dot\r\nlast"};
    smtp.Connect();
    smtp.SendMail();
    smtp.Disconnect();

    ASSERT_TRUE(waitUntil([&] { return server.delivered() == 1; }));
    EXPECT_EQ(server.mail(0),
              "HELO monitor.test\n"
              "FROM vardo@test.example\n"
              "RCPT ops@test.example\nRCPT dev@test.example\nRCPT boss@test.example\n"
              "DATA\n"
              "From: Vardo<vardo@test.example>\r\n"
              "To: Ops <ops@test.example>,dev@test.example,x:boss@test.example\r\n"
              "Subject: Backup down\r\n"
              "Mime-Version: 1.0\r\n"
              "Content-Type: text/plain; charset=us-ascii\r\n"
              "\r\n"
              "\r\n"
              "The server Backup went down\r\n"
              ".\r\n"
              ".hidden dot\r\n"
              "last\r\n");
}

// The mail step as the actions run it: the machine's own name in HELO, which a real server
// insists on, and one mail over one connection.
TEST(SmtpDelivery, AlertMailerSaysHelloWithTheHostName) {
    AiosmtpdServer server;
    std::atomic<std::int32_t> connectState{0};
    SmtpAlertMailer mailer(connectState);
    mailer.client().Port = server.port();
    mailer.sendAlertMail(AlertMail{"127.0.0.1",
                                   "vardo@test.example",
                                   "Vardo",
                                   "Web down",
                                   "The server Web went down\n",
                                   {"a@test.example", "b@test.example"}});
    ASSERT_TRUE(waitUntil([&] { return server.delivered() == 1; }));
    const std::string mail = server.mail(0);
    EXPECT_TRUE(mail.starts_with("HELO " + localHostName() +
                                 "\nFROM vardo@test.example\n"
                                 "RCPT a@test.example\nRCPT b@test.example\nDATA\n"))
        << mail;
    EXPECT_TRUE(mail.ends_with("\r\n\r\nThe server Web went down\r\n\r\n")) << mail;
    EXPECT_EQ(connectState, 2);
    EXPECT_FALSE(mailer.client().Connected());
}

}  // namespace
