#include "alerts/TestMail.h"

#include <algorithm>
#include <chrono>
#include <exception>
#include <thread>

#include "alerts/MailMessage.h"
#include "alerts/Templates.h"

AlertMail testMail(const ServerCfg& cfg, const MailSettings& settings, const std::string& recipients,
                   std::time_t now) {
    AlertMail mail;
    mail.server = cfg.mailServer;
    mail.fromAddress = cfg.fromAddress;
    mail.fromName = cfg.fromName;
    mail.subject = kTestMailSubject;
    mail.body =
        "This test mail was sent by Kestrune Vardomon on " + localHostName() + " at " + dateText(now) + ".";
    mail.recipients = splitList(recipients, ',');
    mail.settings = settings;
    return mail;
}

TestMailSender::TestMailSender() : mailer_(connectState_) {
    // The mail goes on to the others when a recipient is refused; the test must say so.
    mailer_.client().OnRecipientNotFound = [this](const std::string& recipient) {
        refused_.push_back(recipient + " (" + withoutLineEnd(mailer_.client().LastReply()) + ")");
    };
}

TestMailResult TestMailSender::send(const AlertMail& mail) {
    // The client would fail on these too, but with texts that do not say what to fill in.
    if (std::string(mail.server.c_str()).empty()) {
        return {false, "No mail server is set"};
    }
    if (std::string(mail.fromAddress.c_str()).empty()) {
        return {false, "No sender address is set"};
    }
    if (std::none_of(mail.recipients.begin(), mail.recipients.end(),
                     [](const std::string& r) { return !hasLineBreak(r) && !ExtractAddress(r).empty(); })) {
        return {false, "No recipient address is given"};
    }
    sending_ = true;
    struct SendingEnds {
        std::atomic<bool>& flag;
        ~SendingEnds() { flag = false; }
    } sendingEnds{sending_};
    refused_.clear();
    TestMailResult result;
    try {
        result = {true, mailer_.deliver(mail)};
    } catch (const std::exception& e) {
        // A refusal is the server's reply line, with its line end.
        result = {false, withoutLineEnd(e.what())};
    }
    if (!refused_.empty()) {
        std::string names;
        for (const std::string& r : refused_) {
            names += (names.empty() ? "" : ", ") + r;
        }
        result.text = "the mail server refused " + names +
                      (result.sent ? "; the other recipients were sent it: " : "; ") + result.text;
        result.sent = false;
    }
    return result;
}

void TestMailSender::cancel() {
    // A cancel that lands between two waits reaches nothing, so it is repeated until the
    // send has returned.
    while (sending_) {
        mailer_.cancel();
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
}

TestMailResult sendTestMail(const ServerCfg& cfg, const MailSettings& settings, const std::string& recipients,
                            std::time_t now) {
    TestMailSender sender;
    return sender.send(testMail(cfg, settings, recipients, now));
}
