// The alert mail as the SMTP client sends it: the message record, the header list, and the
// pure steps that turn them into the bytes after "DATA". Kept apart from the dialogue so
// the encoding can be checked byte for byte without a server.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum TEncodeMethod : int { emMime = 0, emUUCode = 1 };

enum TMailSubType : int { stPlain = 0, stEnriched = 1, stSgml = 2, stTabSeparated = 3, stHtml = 4 };

struct TMailMessage {
    std::string FromName;
    std::string FromAddress;
    std::string Subject;
    std::string LocalProgram;
    std::string Date;
    std::string ReplyTo;
    std::vector<std::string> Attachments;
    std::vector<std::string> ToAddress;
    std::vector<std::string> ToCarbonCopy;
    std::vector<std::string> ToBlindCarbonCopy;
    std::vector<std::string> Body;
};

// Header lines of the form "Name: value", in order.
class THeaderList {
  public:
    // Replaces the line whose name (the text before its first colon) equals name, ignoring
    // case, or appends one; an empty value removes that line instead.
    void SetValue(const std::string& name, const std::string& value);
    void Add(std::string line) { lines_.push_back(std::move(line)); }
    void Clear() { lines_.clear(); }
    std::size_t Count() const { return lines_.size(); }
    const std::vector<std::string>& Lines() const { return lines_; }

  private:
    std::vector<std::string> lines_;
};

// The value with every CR and LF turned into a blank: a text taken from a host record or
// the settings can never start a header line of its own or a second SMTP command.
std::string cleanHeaderValue(const std::string& value);

// Whether the text holds a CR or an LF (such a recipient is not used at all).
bool hasLineBreak(const std::string& text);

// A reply line without its line end, for the texts that quote it.
std::string withoutLineEnd(std::string line);

// The bare address of a recipient entry: what stands in angle brackets, else after a
// colon, else the whole entry.
std::string ExtractAddress(const std::string& entry);

// The lines of one body entry. CR LF, a lone LF and a lone CR each end a line, so no line
// handed on carries a CR that a server might take for a line end; a text that ends with a
// line break has an empty last line.
std::vector<std::string> bodyLines(const std::string& entry);

// The header lines and the body bytes of a message without attachments. The body is every
// line of every Body entry followed by CR LF, with one more "." before a line that begins
// with "." so that no line of the message can end the data early.
void assembleMail(const TMailMessage& message, TMailSubType subType, const std::string& charset,
                  THeaderList& header, std::string& body);

// What is written after "DATA" before the body: every header line with CR LF, then CR LF
// twice (the empty line ending the header, and an empty first body line).
std::string headerBlock(const THeaderList& header);

// Whether the message names a sender address and at least one usable recipient.
bool headerComplete(const TMailMessage& message);
