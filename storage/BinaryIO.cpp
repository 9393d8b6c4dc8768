#include "storage/BinaryIO.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>

void ByteWriter::putU32(std::uint32_t value) {
    const char bytes[4] = {static_cast<char>(value & 0xFF), static_cast<char>((value >> 8) & 0xFF),
                           static_cast<char>((value >> 16) & 0xFF), static_cast<char>((value >> 24) & 0xFF)};
    out_.append(bytes, 4);
}

void ByteWriter::putString(const std::string& text) {
    const std::size_t nul = text.find('\0');
    const std::size_t n = nul == std::string::npos ? text.size() : nul;
    putI32(static_cast<std::int32_t>(n));
    out_.append(text.data(), n);
}

bool ByteReader::getU32(std::uint32_t& value) {
    if (remaining() < 4) {
        return false;
    }
    const auto* p = reinterpret_cast<const unsigned char*>(data_.data() + pos_);
    value = static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
            (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
    pos_ += 4;
    return true;
}

bool ByteReader::getI32(std::int32_t& value) {
    std::uint32_t raw = 0;
    if (!getU32(raw)) {
        return false;
    }
    value = static_cast<std::int32_t>(raw);
    return true;
}

bool ByteReader::getByte(std::uint8_t& value) {
    if (remaining() < 1) {
        return false;
    }
    value = static_cast<std::uint8_t>(data_[pos_]);
    ++pos_;
    return true;
}

ByteReader::StringResult ByteReader::getString(std::string& text) {
    const std::size_t start = pos_;
    std::int32_t n = 0;
    if (!getI32(n)) {
        return StringResult::Missing;
    }
    if (n == 0) {
        return StringResult::Empty;
    }
    if (n < 0 || static_cast<std::size_t>(n) > remaining()) {
        pos_ = start;
        return StringResult::Damaged;
    }
    const std::string_view bytes = data_.substr(pos_, static_cast<std::size_t>(n));
    pos_ += static_cast<std::size_t>(n);
    const std::size_t nul = bytes.find('\0');
    text.assign(nul == std::string_view::npos ? bytes : bytes.substr(0, nul));
    return StringResult::Ok;
}

bool ByteReader::getBytes(std::size_t n, std::string& bytes) {
    if (n > remaining()) {
        return false;
    }
    bytes.assign(data_.substr(pos_, n));
    pos_ += n;
    return true;
}

namespace {
constexpr std::size_t kStreamBuffer = 1 << 20;
}  // namespace

StreamReader::StreamReader(int fd, std::size_t size) : fd_(fd), size_(size), buffer_(kStreamBuffer, '\0') {}

bool StreamReader::ensure(std::size_t n) {
    if (len_ - pos_ >= n) {
        return true;
    }
    if (n > remaining()) {
        return false;
    }
    // Keep what is left, then fill the rest of the buffer.
    buffer_.erase(0, pos_);
    len_ -= pos_;
    pos_ = 0;
    buffer_.resize(kStreamBuffer);
    while (len_ < n) {
        const ssize_t got = ::read(fd_, buffer_.data() + len_, buffer_.size() - len_);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            failed_ = got < 0;
            // A file that shrank meanwhile ends here.
            size_ = consumed_ + len_;
            return false;
        }
        len_ += static_cast<std::size_t>(got);
    }
    return true;
}

bool StreamReader::getU32(std::uint32_t& value) {
    if (!ensure(4)) {
        return false;
    }
    ByteReader view(std::string_view(buffer_.data() + pos_, 4));
    view.getU32(value);
    take(4);
    return true;
}

bool StreamReader::getI32(std::int32_t& value) {
    std::uint32_t raw = 0;
    if (!getU32(raw)) {
        return false;
    }
    value = static_cast<std::int32_t>(raw);
    return true;
}

bool StreamReader::getByte(std::uint8_t& value) {
    if (!ensure(1)) {
        return false;
    }
    value = static_cast<std::uint8_t>(buffer_[pos_]);
    take(1);
    return true;
}

StreamReader::StringResult StreamReader::getString(std::string& text) {
    std::int32_t n = 0;
    if (!getI32(n)) {
        return StringResult::Missing;
    }
    if (n == 0) {
        return StringResult::Empty;
    }
    if (n < 0 || static_cast<std::size_t>(n) > remaining()) {
        return StringResult::Damaged;
    }
    const auto size = static_cast<std::size_t>(n);
    if (size <= kStreamBuffer) {
        // The usual case: the whole text fits the buffer.
        if (!ensure(size)) {
            return StringResult::Damaged;
        }
        const std::string_view piece(buffer_.data() + pos_, size);
        text.assign(piece.substr(0, piece.find('\0')));
        take(size);
        return StringResult::Ok;
    }
    std::string out;
    bool cut = false;
    for (std::size_t left = static_cast<std::size_t>(n); left > 0;) {
        const std::size_t step = std::min(left, kStreamBuffer);
        if (!ensure(step)) {
            return StringResult::Damaged;
        }
        std::string_view piece(buffer_.data() + pos_, step);
        if (!cut) {
            const std::size_t nul = piece.find('\0');
            cut = nul != std::string_view::npos;
            out.append(cut ? piece.substr(0, nul) : piece);
        }
        take(step);
        left -= step;
    }
    text = std::move(out);
    return StringResult::Ok;
}

bool StreamReader::getBytes(std::size_t n, std::string& bytes) {
    if (n > remaining()) {
        return false;
    }
    std::string out;
    out.reserve(n);
    for (std::size_t left = n; left > 0;) {
        const std::size_t step = std::min(left, kStreamBuffer);
        if (!ensure(step)) {
            return false;
        }
        out.append(buffer_.data() + pos_, step);
        take(step);
        left -= step;
    }
    bytes = std::move(out);
    return true;
}
