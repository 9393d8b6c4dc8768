#include "core/Vardo.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <sstream>
#include <stdexcept>

ServerDoc::ServerDoc(const ServerDoc& other)
    : fileName(other.fileName), errorText(other.errorText), modified(other.modified.load()) {
    std::lock_guard lock(other.mutex_);
    items_ = other.items_;
    ids_ = other.ids_;
    extras_ = other.extras_;
    nextId_ = other.nextId_;
    damagedExtrasPath_ = other.damagedExtrasPath_;
}

ServerDoc& ServerDoc::operator=(const ServerDoc& other) {
    if (this == &other) {
        return *this;
    }
    std::vector<ServerItem> items;
    std::vector<ItemId> ids;
    std::vector<HostExtras> extras;
    std::string damagedPath;
    ItemId nextId = 0;
    {
        std::lock_guard lock(other.mutex_);
        items = other.items_;
        ids = other.ids_;
        extras = other.extras_;
        damagedPath = other.damagedExtrasPath_;
        nextId = other.nextId_;
    }
    fileName = other.fileName;
    errorText = other.errorText;
    modified = other.modified.load();
    std::lock_guard lock(mutex_);
    items_ = std::move(items);
    ids_ = std::move(ids);
    extras_ = std::move(extras);
    damagedExtrasPath_ = std::move(damagedPath);
    nextId_ = std::max(nextId_, nextId);
    return *this;
}

void ServerDoc::append(const ServerItem& item, HostExtras extras) {
    {
        std::lock_guard lock(mutex_);
        items_.push_back(item);
        ids_.push_back(nextId_++);
        extras_.push_back(std::move(extras));
    }
    modified = true;
}

bool ServerDoc::replace(std::size_t index, const ServerItem& item) {
    {
        std::lock_guard lock(mutex_);
        if (index >= items_.size()) {
            return false;
        }
        ServerItem copy = item;
        copy.copyRunTimeFrom(items_[index]);
        items_[index] = std::move(copy);
    }
    modified = true;
    return true;
}

bool ServerDoc::setExtras(std::size_t index, HostExtras extras) {
    {
        std::lock_guard lock(mutex_);
        if (index >= extras_.size()) {
            return false;
        }
        if (extras_[index] == extras) {
            return true;
        }
        extras_[index] = std::move(extras);
    }
    modified = true;
    return true;
}

std::optional<HostExtras> ServerDoc::extrasAt(std::size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= extras_.size()) {
        return std::nullopt;
    }
    return extras_[index];
}

bool ServerDoc::remove(std::size_t index) {
    {
        std::lock_guard lock(mutex_);
        if (index >= items_.size()) {
            return false;
        }
        items_.erase(items_.begin() + static_cast<std::ptrdiff_t>(index));
        ids_.erase(ids_.begin() + static_cast<std::ptrdiff_t>(index));
        extras_.erase(extras_.begin() + static_cast<std::ptrdiff_t>(index));
    }
    modified = true;
    return true;
}

void ServerDoc::reset() {
    {
        std::lock_guard lock(mutex_);
        items_.clear();
        ids_.clear();
        extras_.clear();
        damagedExtrasPath_.clear();
    }
    fileName.clear();
    errorText.clear();
    modified = false;
}

std::size_t ServerDoc::count() const {
    std::lock_guard lock(mutex_);
    return items_.size();
}

std::optional<ServerItem> ServerDoc::at(std::size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= items_.size()) {
        return std::nullopt;
    }
    return items_[index];
}

std::vector<ServerItem> ServerDoc::items() const {
    std::lock_guard lock(mutex_);
    return items_;
}

std::optional<ServerDoc::Snapshot> ServerDoc::snapshot(std::size_t index) const {
    std::lock_guard lock(mutex_);
    if (index >= items_.size()) {
        return std::nullopt;
    }
    return Snapshot{items_[index], ids_[index], index, extras_[index]};
}

std::optional<std::size_t> ServerDoc::findLocked(const Snapshot& snap) const {
    // Usually the host is still where it was; otherwise hosts before it were added or
    // removed meanwhile, and it is looked up by its id.
    if (snap.index < ids_.size() && ids_[snap.index] == snap.id) {
        return snap.index;
    }
    const auto it = std::find(ids_.begin(), ids_.end(), snap.id);
    if (it == ids_.end()) {
        return std::nullopt;
    }
    return static_cast<std::size_t>(it - ids_.begin());
}

std::optional<std::size_t> ServerDoc::writeBack(const Snapshot& snap, const ServerItem& checked,
                                                ServerItem* current) {
    std::optional<std::size_t> at;
    {
        std::lock_guard lock(mutex_);
        at = findLocked(snap);
        if (!at) {
            return std::nullopt;
        }
        items_[*at].copyRunTimeFrom(checked);
        if (current != nullptr) {
            *current = items_[*at];
        }
    }
    modified = true;
    return at;
}

std::optional<std::size_t> ServerDoc::indexOf(const Snapshot& snap) const {
    std::lock_guard lock(mutex_);
    return findLocked(snap);
}

void ServerDoc::appendAll(std::vector<ServerItem>&& records, std::vector<HostExtras>&& extras) {
    std::lock_guard lock(mutex_);
    if (extras.size() == records.size()) {
        extras_.insert(extras_.end(), std::make_move_iterator(extras.begin()),
                       std::make_move_iterator(extras.end()));
    }
    extras_.resize(items_.size() + records.size());
    if (items_.empty()) {
        items_.swap(records);
    } else {
        items_.insert(items_.end(), std::make_move_iterator(records.begin()),
                      std::make_move_iterator(records.end()));
    }
    while (ids_.size() < items_.size()) {
        ids_.push_back(nextId_++);
    }
}

void ServerDoc::withItems(const std::function<void(const std::vector<ServerItem>&)>& read) const {
    std::lock_guard lock(mutex_);
    read(items_);
}

void ServerDoc::withItemsAndExtras(
    const std::function<void(const std::vector<ServerItem>&, const std::vector<HostExtras>&)>& read) const {
    std::lock_guard lock(mutex_);
    read(items_, extras_);
}

bool ServerDoc::extrasDamaged() const {
    std::lock_guard lock(mutex_);
    return !damagedExtrasPath_.empty();
}

bool ServerDoc::savingLosesExtras() const {
    std::lock_guard lock(mutex_);
    return !damagedExtrasPath_.empty() &&
           (damagedExtrasPath_ == fileName ||
            (fileName.find('.') == std::string::npos && damagedExtrasPath_ == fileName + ".vdm"));
}

void ServerDoc::acceptExtrasLoss() {
    std::lock_guard lock(mutex_);
    damagedExtrasPath_.clear();
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
