#include "alerts/SmtpCapabilities.h"

#include <cstddef>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

char upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

bool sameWord(const std::string& word, const char* keyword) {
    std::size_t i = 0;
    for (; keyword[i] != '\0'; ++i) {
        if (i >= word.size() || upper(word[i]) != keyword[i]) {
            return false;
        }
    }
    return i == word.size();
}

// The words after the reply code and its separator.
std::vector<std::string> wordsOf(const std::string& line) {
    std::vector<std::string> words;
    std::size_t i = 4;
    while (i < line.size()) {
        while (i < line.size() && isBlank(line[i])) {
            ++i;
        }
        const std::size_t start = i;
        while (i < line.size() && !isBlank(line[i])) {
            ++i;
        }
        if (i > start) {
            words.push_back(line.substr(start, i - start));
        }
    }
    return words;
}

void takeMechanism(const std::string& word, SmtpCapabilities& caps) {
    if (sameWord(word, "PLAIN")) {
        caps.authPlain = true;
    } else if (sameWord(word, "LOGIN")) {
        caps.authLogin = true;
    }
}

}  // namespace

SmtpCapabilities parseEhloReply(const std::vector<std::string>& lines) {
    SmtpCapabilities caps;
    for (std::size_t n = 1; n < lines.size(); ++n) {
        std::vector<std::string> words = wordsOf(lines[n]);
        if (words.empty()) {
            continue;
        }
        std::string keyword = words.front();
        if (sameWord(keyword, "STARTTLS")) {
            caps.startTls = true;
            continue;
        }
        const std::size_t equals = keyword.find('=');
        if (equals != std::string::npos) {
            words.front() = keyword.substr(equals + 1);
            keyword.resize(equals);
        } else {
            words.erase(words.begin());
        }
        if (sameWord(keyword, "AUTH")) {
            for (const std::string& word : words) {
                takeMechanism(word, caps);
            }
        }
    }
    return caps;
}
