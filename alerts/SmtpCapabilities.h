// What a mail server offers in its reply to EHLO, as far as the mail client uses it.
#pragma once

#include <string>
#include <vector>

struct SmtpCapabilities {
    bool startTls = false;
    bool authPlain = false;
    bool authLogin = false;

    bool operator==(const SmtpCapabilities&) const = default;
};

// The capabilities named by the lines of an EHLO reply ("250-KEYWORD parameters", the last
// one "250 KEYWORD parameters", with or without their line end). The first line names the
// server and offers nothing. Keywords and mechanisms match whatever their case; the
// "AUTH=" lines of older servers count as "AUTH".
SmtpCapabilities parseEhloReply(const std::vector<std::string>& lines);
