#include "storage/BinaryIO.h"

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
