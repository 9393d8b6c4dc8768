// The two primitives of both binary files: a little-endian 32-bit integer and a string as
// an int32 byte count followed by that many bytes. Readers never go past their input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

class ByteWriter {
  public:
    void putU32(std::uint32_t value);
    void putI32(std::int32_t value) { putU32(static_cast<std::uint32_t>(value)); }
    void putByte(std::uint8_t value) { out_.push_back(static_cast<char>(value)); }
    void putBool(bool value) { putByte(value ? 1 : 0); }
    // The text up to its first NUL, with its length in front.
    void putString(const std::string& text);

    const std::string& bytes() const { return out_; }
    std::string take() { return std::move(out_); }
    void reserve(std::size_t n) { out_.reserve(n); }
    void clear() { out_.clear(); }

  private:
    std::string out_;
};

// Reads from a byte range. Each read reports whether the bytes were there; a failed read
// consumes nothing and leaves its target unchanged.
class ByteReader {
  public:
    explicit ByteReader(std::string_view data) : data_(data) {}

    bool getU32(std::uint32_t& value);
    bool getI32(std::int32_t& value);
    bool getByte(std::uint8_t& value);

    enum class StringResult { Ok, Empty, Missing, Damaged };
    // Empty: the count was 0 and text is unchanged. Missing: the input ended before the
    // count. Damaged: the count is negative or runs past the end. Ok: text holds the bytes
    // up to the first NUL.
    StringResult getString(std::string& text);
    // Exactly n bytes as they are, or false (nothing consumed) when fewer are left.
    bool getBytes(std::size_t n, std::string& bytes);

    std::size_t remaining() const { return data_.size() - pos_; }
    bool atEnd() const { return pos_ == data_.size(); }

  private:
    std::string_view data_;
    std::size_t pos_ = 0;
};

// The same reads, pulled from an open file through a buffer of fixed size, so a large file
// is never held in memory whole. remaining() counts the bytes the file had when opened.
class StreamReader {
  public:
    using StringResult = ByteReader::StringResult;

    // fd stays owned by the caller; size is the file's size when opened.
    StreamReader(int fd, std::size_t size);

    bool getU32(std::uint32_t& value);
    bool getI32(std::int32_t& value);
    bool getByte(std::uint8_t& value);
    StringResult getString(std::string& text);
    bool getBytes(std::size_t n, std::string& bytes);

    std::size_t remaining() const { return size_ - consumed_; }
    bool atEnd() const { return remaining() == 0; }
    // A read of the file failed (as opposed to the file ending).
    bool failed() const { return failed_; }

  private:
    // Makes at least n buffered bytes available if the file has them (n ≤ buffer size).
    bool ensure(std::size_t n);
    void take(std::size_t n) {
        pos_ += n;
        consumed_ += n;
    }

    int fd_;
    std::size_t size_;
    std::size_t consumed_ = 0;
    std::string buffer_;
    std::size_t pos_ = 0;
    std::size_t len_ = 0;
    bool failed_ = false;
};
