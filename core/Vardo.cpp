#include "core/Vardo.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <sstream>
#include <stdexcept>

ServerDoc::ServerDoc(const ServerDoc& other)
    : fileName(other.fileName), errorText(other.errorText), modified(other.modified.load()) {
    std::lock_guard lock(other.mutex_);
    entries_ = other.entries_;
    nextId_ = other.nextId_;
}

ServerDoc& ServerDoc::operator=(const ServerDoc& other) {
    if (this == &other) {
        return *this;
    }
    std::vector<Entry> entries;
    ItemId nextId = 0;
    {
        std::lock_guard lock(other.mutex_);
        entries = other.entries_;
        nextId = other.nextId_;
    }
    fileName = other.fileName;
    errorText = other.errorText;
    modified = other.modified.load();
    std::lock_guard lock(mutex_);
    entries_ = std::move(entries);
    nextId_ = std::max(nextId_, nextId);
    return *this;
}

void ServerDoc::append(const ServerItem& item) {
    {
        std::lock_guard lock(mutex_);
        entries_.push_back(Entry{item, nextId_++});
    }
    modified = true;
}

bool ServerDoc::replace(std::size_t index, const ServerItem& item) {
    {
        std::lock_guard lock(mutex_);
        if (index >= entries_.size()) {
            return false;
        }
        ServerItem& target = entries_[index].item;
        ServerItem copy = item;
        copy.copyRunTimeFrom(target);
        target = std::move(copy);
    }
    modified = true;
    return true;
}

bool ServerDoc::remove(std::size_t index) {
    {
        std::lock_guard lock(mutex_);
        if (index >= entries_.size()) {
            return false;
        }
        entries_.erase(entries_.begin() + static_cast<std::ptrdiff_t>(index));
    }
    modified = true;
    return true;
}

void ServerDoc::reset() {
    {
        std::lock_guard lock(mutex_);
        entries_.clear();
    }
    fileName.clear();
    errorText.clear();
    modified = false;
}

std::size_t ServerDoc::count() const {
    std::lock_guard lock(mutex_);
    return entries_.size();
}

std::optional<ServerItem> ServerDoc::at(std::size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= entries_.size()) {
        return std::nullopt;
    }
    return entries_[index].item;
}

std::vector<ServerItem> ServerDoc::items() const {
    std::lock_guard lock(mutex_);
    std::vector<ServerItem> out;
    out.reserve(entries_.size());
    for (const Entry& e : entries_) {
        out.push_back(e.item);
    }
    return out;
}

std::optional<ServerDoc::Snapshot> ServerDoc::snapshot(std::size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= entries_.size()) {
        return std::nullopt;
    }
    return Snapshot{entries_[index].item, entries_[index].id};
}

bool ServerDoc::writeBack(const Snapshot& snap, const ServerItem& checked) {
    {
        std::lock_guard lock(mutex_);
        auto it =
            std::find_if(entries_.begin(), entries_.end(), [&](const Entry& e) { return e.id == snap.id; });
        if (it == entries_.end()) {
            return false;
        }
        it->item.copyRunTimeFrom(checked);
    }
    modified = true;
    return true;
}

void ServerDoc::appendAll(std::vector<ServerItem>&& records) {
    std::lock_guard lock(mutex_);
    entries_.reserve(entries_.size() + records.size());
    for (ServerItem& r : records) {
        entries_.push_back(Entry{std::move(r), nextId_++});
    }
}

std::string stringify(long long value) {
    std::ostringstream out;
    if (!(out << value)) {
        throw std::invalid_argument("Bad conversion");
    }
    return out.str();
}

std::int32_t atolText(const std::string& text) {
    std::size_t i = 0;
    while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    long long value = 0;
    constexpr long long limit = static_cast<long long>(std::numeric_limits<std::int32_t>::max()) + 1;
    while (i < text.size() && std::isdigit(static_cast<unsigned char>(text[i]))) {
        value = std::min(value * 10 + (text[i] - '0'), limit);
        ++i;
    }
    if (negative) {
        value = -value;
    }
    return static_cast<std::int32_t>(std::clamp<long long>(value, std::numeric_limits<std::int32_t>::min(),
                                                           std::numeric_limits<std::int32_t>::max()));
}

std::string cutAtNul(const std::string& text) {
    auto nul = text.find('\0');
    return nul == std::string::npos ? text : text.substr(0, nul);
}
