#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "alerts/MailMessage.h"

namespace {

using Lines = std::vector<std::string>;

TMailMessage alert() {
    TMailMessage m;
    m.FromName = "Vardo";
    m.FromAddress = "vardo@example.org";
    m.Subject = "Backup down";
    m.ToAddress = {"Ops Team <ops@example.org>", "b@example.org"};
    m.Body = {"The server Backup went down"};
    return m;
}

TEST(HeaderList, SetValueReplacesAppendsAndRemovesIgnoringCase) {
    THeaderList h;
    h.Add("From: x<y>");
    h.SetValue("Subject", "one");
    h.SetValue("SUBJECT", "two");
    h.SetValue("X-Mailer", "");
    EXPECT_EQ(h.Lines(), (Lines{"From: x<y>", "SUBJECT: two"}));
    h.SetValue("subject", "");
    EXPECT_EQ(h.Lines(), Lines{"From: x<y>"});
    h.SetValue("Fro", "z");  // only the whole name matches
    EXPECT_EQ(h.Count(), 2u);
}

TEST(AssembleMail, OptionalHeadersAndContentTypes) {
    TMailMessage m = alert();
    m.Subject.clear();
    m.ToCarbonCopy = {"c1", "c2"};
    m.ToBlindCarbonCopy = {"hidden"};
    m.LocalProgram = "Vardomon";
    m.ReplyTo = "r@x";
    m.Date = "Tue, 8 Dec 2026 08:55:37 +0100";
    THeaderList h;
    std::string body;
    assembleMail(m, stHtml, "iso-8859-1", h, body);
    EXPECT_EQ(h.Lines(), (Lines{"From: Vardo<vardo@example.org>",
                                "To: Ops Team <ops@example.org>,b@example.org", "CC: c1,c2",
                                "X-Mailer: Vardomon", "Reply-To: r@x", "Date: Tue, 8 Dec 2026 08:55:37 +0100",
                                "Mime-Version: 1.0", "Content-Type: text/html; charset=iso-8859-1"}));
    const std::pair<TMailSubType, std::string> types[] = {
        {stEnriched, "text/enriched"},
        {stSgml, "text/sgml"},
        {stTabSeparated, "text/tab-separated-values"},
        {static_cast<TMailSubType>(42), "text/plain"},
    };
    for (const auto& [type, name] : types) {
        assembleMail(m, type, "us-ascii", h, body);
        EXPECT_EQ(h.Lines().back(), "Content-Type: " + name + "; charset=us-ascii");
    }
}

TEST(AssembleMail, BodyLinesAreDotStuffedAndEveryLineBreakCounts) {
    TMailMessage m = alert();
    m.Body = {"first\r\n.\r\n..two", ".lead\nlf only\rcr only", "ends with a break\r\n", ""};
    THeaderList h;
    std::string body;
    assembleMail(m, stPlain, "us-ascii", h, body);
    EXPECT_EQ(body,
              "first\r\n..\r\n...two\r\n"
              "..lead\r\nlf only\r\ncr only\r\n"
              "ends with a break\r\n\r\n"
              "\r\n");
    // No line of the data can be the lone "." that ends it, whatever CRs the text holds.
    m.Body = {"a\r.\rb", "x\n.\n"};
    assembleMail(m, stPlain, "us-ascii", h, body);
    EXPECT_EQ(body.find("\r\n.\r\n"), std::string::npos);
    EXPECT_EQ(body.find("\r.\r"), std::string::npos);
    EXPECT_EQ(body, "a\r\n..\r\nb\r\nx\r\n..\r\n\r\n");
}

TEST(AssembleMail, LineBreaksNeverReachAHeaderLine) {
    TMailMessage m = alert();
    m.FromName = "Evil\r\nBcc: victim@x";
    m.FromAddress = "a@x>\r\nRCPT TO:<b@x";
    m.Subject = "Down\nX-Injected: 1";
    m.ToAddress = {"good@x", "bad@x\r\nCc: more@x", "also bad\n"};
    THeaderList h;
    std::string body;
    assembleMail(m, stPlain, "us-ascii", h, body);
    for (const std::string& line : h.Lines()) {
        EXPECT_EQ(line.find_first_of("\r\n"), std::string::npos) << line;
    }
    EXPECT_EQ(h.Lines()[0], "From: Evil  Bcc: victim@x<a@x>  RCPT TO:<b@x>");
    EXPECT_EQ(h.Lines()[1], "To: good@x");
    EXPECT_EQ(h.Lines()[2], "Subject: Down X-Injected: 1");
}

TEST(AssembleMail, HeaderCompleteNeedsASenderAndAUsableRecipient) {
    TMailMessage m = alert();
    EXPECT_TRUE(headerComplete(m));
    m.FromAddress.clear();
    EXPECT_FALSE(headerComplete(m));
    m = alert();
    m.ToAddress = {"x\r\n"};
    EXPECT_FALSE(headerComplete(m));
    m.ToBlindCarbonCopy = {"hidden"};
    EXPECT_TRUE(headerComplete(m));
}

TEST(ExtractAddress, AngleBracketsThenColonThenTheWholeEntry) {
    EXPECT_EQ(ExtractAddress("Ops Team <ops>"), "ops");
    EXPECT_EQ(ExtractAddress("x:ops"), "ops");
    EXPECT_EQ(ExtractAddress("x:ops:y"), "ops");
    EXPECT_EQ(ExtractAddress("Name <open"), "open");
    EXPECT_EQ(ExtractAddress("a:b <c>"), "c");
    EXPECT_EQ(ExtractAddress(" plain@x "), " plain@x ");
    EXPECT_EQ(ExtractAddress("<>"), "");
    EXPECT_EQ(ExtractAddress(""), "");
}

}  // namespace
