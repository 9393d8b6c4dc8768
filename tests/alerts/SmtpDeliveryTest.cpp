#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <string>
#include <vector>

#include "alerts/SmtpAlertMailer.h"
#include "alerts/SmtpClient.h"
#include "support/AiosmtpdServer.h"
#include "support/TempDir.h"
#include "support/TestCertificates.h"

namespace {

// A mail from vardo@test.example through the server on 127.0.0.1.
AlertMail mailTo(std::vector<std::string> recipients, const MailSettings& settings) {
    return AlertMail{"127.0.0.1", "vardo@test.example", "", "", "body", std::move(recipients), settings};
}

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
    mailer.sendAlertMail(AlertMail{"127.0.0.1",
                                   "vardo@test.example",
                                   "Vardo",
                                   "Web down",
                                   "The server Web went down\n",
                                   {"a@test.example", "b@test.example"},
                                   {.port = server.port()}});
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

// Large providers refuse an unknown recipient over several lines; the replies after it still
// go with their own commands, and the other recipient gets the mail.
TEST(SmtpDelivery, AMultiLineRefusalOfOneRecipientLeavesTheMailForTheOther) {
    AiosmtpdServer server({}, {"gone@test.example"});
    std::atomic<std::int32_t> connectState{0};
    SmtpAlertMailer mailer(connectState);
    EXPECT_EQ(mailer.deliver(mailTo({"gone@test.example", "ops@test.example"}, {.port = server.port()})),
              "250 Message accepted for delivery");
    ASSERT_TRUE(waitUntil([&] { return server.delivered() == 1; }));
    EXPECT_TRUE(server.mail(0).find("\nRCPT ops@test.example\nDATA\n") != std::string::npos)
        << server.mail(0);
}

// EHLO wants a domain or an address literal: a bare host name gives way to this end's address.
TEST(SmtpDelivery, EhloNamesABareHostByItsAddress) {
    AiosmtpdServer server;
    std::atomic<std::int32_t> connectState{0};
    SmtpAlertMailer mailer(connectState);
    mailer.client().UserID = "vm";
    mailer.deliver(mailTo({"ops@test.example"}, {.port = server.port(), .user = "u"}));
    ASSERT_TRUE(waitUntil([&] { return server.delivered() == 1; }));
    EXPECT_TRUE(server.mail(0).starts_with("EHLO [127.0.0.1]\n")) << server.mail(0);
}

// Mail over TLS to a server whose certificate comes from an authority made for the test,
// for "localhost" and 127.0.0.1.
class SecureDelivery : public ::testing::Test {
  protected:
    AiosmtpdServer::Options server(const std::string& security, const std::string& altNames) {
        const TestCertificates::Server cert = ca.server(altNames);
        return {security, cert.certFile, cert.keyFile, "alerts@test.example", "s3cret", {}};
    }
    AlertMail mail(const AiosmtpdServer& to, MailSecurity security, const std::string& host = "localhost") {
        MailSettings settings{.port = to.port(), .security = security, .user = "alerts@test.example"};
        settings.password = "s3cret";
        settings.caFile = ca.caFile();
        return AlertMail{
            host, "vardo@test.example", "Vardo", "Web down", "Web went down", {"ops@test.example"}, settings};
    }
    // Why the mail was not sent.
    std::string refusal(const AlertMail& m) {
        try {
            mailer.deliver(m);
        } catch (const std::exception& e) {
            return e.what();
        }
        return "(sent)";
    }

    TestCertificates ca;
    std::atomic<std::int32_t> connectState{0};
    SmtpAlertMailer mailer{connectState};
    const std::string envelope = "FROM vardo@test.example\nRCPT ops@test.example\nDATA\n";
    // This machine's name when it is a domain, else its address on the loopback connection.
    const std::string ehloName =
        localHostName().find('.') != std::string::npos ? localHostName() : "[127.0.0.1]";
};

TEST_F(SecureDelivery, StartTlsThenLoginByPlainOrLogin) {
    const std::string good = "DNS:localhost,IP:127.0.0.1";
    AiosmtpdServer plainToo(server("starttls", good));
    AlertMail m = mail(plainToo, MailSecurity::StartTls);
    // The command's output loses its line end and trailing blanks; no shell reads the line.
    m.settings.password = "wrong";
    m.settings.passwordCommand = "echo \"s3cret \"";
    EXPECT_EQ(mailer.deliver(m), "250 Message accepted for delivery");

    AiosmtpdServer::Options loginOnly = server("starttls", good);
    loginOnly.excludedMechanisms = {"PLAIN"};
    AiosmtpdServer loginServer(loginOnly);
    EXPECT_EQ(mailer.deliver(mail(loginServer, MailSecurity::StartTls)), "250 Message accepted for delivery");

    for (const AiosmtpdServer* s : {&plainToo, &loginServer}) {
        ASSERT_TRUE(waitUntil([&] { return s->delivered() == 1; }));
        EXPECT_TRUE(
            s->mail(0).starts_with("EHLO " + ehloName + "\nTLS\nAUTH alerts@test.example\n" + envelope))
            << s->mail(0);
        EXPECT_TRUE(s->mail(0).ends_with("\r\n\r\nWeb went down\r\n")) << s->mail(0);
    }
}

TEST_F(SecureDelivery, ThePasswordComesFromTheServiceCredentialOrAFile) {
    AiosmtpdServer tls(server("tls", "DNS:localhost,IP:127.0.0.1"));
    const TempDir dir;
    writeFileBytes(dir.file("mail-password"), "s3cret\n");
    writeFileBytes(dir.file("other"), "s3cret\r\nnot this\n");
    AlertMail m = mail(tls, MailSecurity::Tls);
    m.settings.password = "wrong";
    ::setenv("CREDENTIALS_DIRECTORY", dir.path().c_str(), 1);
    EXPECT_EQ(mailer.deliver(m), "250 Message accepted for delivery");
    ::unsetenv("CREDENTIALS_DIRECTORY");
    m.settings.passwordFile = dir.file("other");
    EXPECT_EQ(mailer.deliver(m), "250 Message accepted for delivery");
    EXPECT_TRUE(waitUntil([&] { return tls.delivered() == 2; }));
}

TEST_F(SecureDelivery, TlsFromTheFirstByteToAServerGivenByItsAddress) {
    AiosmtpdServer tls(server("tls", "DNS:localhost,IP:127.0.0.1"));
    EXPECT_EQ(mailer.deliver(mail(tls, MailSecurity::Tls, "127.0.0.1")), "250 Message accepted for delivery");
    ASSERT_TRUE(waitUntil([&] { return tls.delivered() == 1; }));
    EXPECT_TRUE(tls.mail(0).starts_with("EHLO " + ehloName + "\nTLS\nAUTH alerts@test.example\n" + envelope))
        << tls.mail(0);
}

// An address in a form the socket takes is checked as the address it connected to.
TEST_F(SecureDelivery, AShortAddressFormIsCheckedAsAnAddress) {
    AiosmtpdServer tls(server("tls", "IP:127.0.0.1"));
    EXPECT_EQ(mailer.deliver(mail(tls, MailSecurity::Tls, "127.1")), "250 Message accepted for delivery");
}

// Each refusal says what went wrong, none sends the mail, and none names the password.
TEST_F(SecureDelivery, ServersThatCannotBeTrustedOrRefuseTheLoginAreRefused) {
    AiosmtpdServer elsewhere(server("starttls", "DNS:elsewhere.test,IP:127.0.0.2"));
    AiosmtpdServer good(server("tls", "DNS:localhost,IP:127.0.0.1"));
    AiosmtpdServer plain;
    const TestCertificates otherCa;
    AlertMail strangerCa = mail(good, MailSecurity::Tls);
    strangerCa.settings.caFile = otherCa.caFile();
    AlertMail wrongPassword = mail(good, MailSecurity::Tls);
    wrongPassword.settings.password = "guess";
    const std::pair<AlertMail, std::string> cases[] = {
        {strangerCa, "The mail server's certificate was refused: unable to get local issuer certificate"},
        {mail(elsewhere, MailSecurity::StartTls),
         "The mail server's certificate was refused: hostname mismatch"},
        {mail(elsewhere, MailSecurity::StartTls, "127.0.0.1"),
         "The mail server's certificate was refused: IP address mismatch"},
        {wrongPassword, "Login refused: 535 5.7.8 Authentication credentials invalid"},
        {mail(plain, MailSecurity::StartTls), "The mail server offers no STARTTLS"},
        {mail(plain, MailSecurity::Tls), "TLS handshake with the mail server failed: "},
    };
    for (const auto& [m, reason] : cases) {
        const std::string text = refusal(m);
        EXPECT_TRUE(text.starts_with(reason)) << text;
        EXPECT_EQ(text.find("s3cret"), std::string::npos) << text;
        EXPECT_FALSE(mailer.client().Connected());
    }
    // Unchecked, the stranger's certificate is taken.
    strangerCa.settings.verifyCertificate = false;
    EXPECT_EQ(mailer.deliver(strangerCa), "250 Message accepted for delivery");
    EXPECT_EQ(elsewhere.delivered() + plain.delivered(), 0);
    EXPECT_EQ(good.delivered(), 1);
}

}  // namespace
