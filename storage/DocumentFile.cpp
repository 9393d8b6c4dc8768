#include "storage/DocumentFile.h"

#include <sys/mman.h>

#include <algorithm>
#include <cstdint>
#include <exception>

#include "storage/BinaryIO.h"
#include "storage/DocumentTrailer.h"
#include "storage/SafeFile.h"

namespace {

void writeRecord(ByteWriter& w, const ServerItem& it) {
    w.putI32(it.type);
    w.putString(it.name);
    w.putString(it.address);
    w.putString(it.description);
    w.putI32(it.goodCount);
    w.putI32(it.badCount);
    w.putI32(it.failuresAllowed);
    w.putI32(it.consecutiveFailures);
    w.putI32(it.status);
    w.putI32(it.tcpPort);
    w.putI32(it.numPings);
    w.putI32(it.pingSeconds);
    w.putI32(it.tcpType);
    w.putString(it.recvText);
    w.putString(it.sendText);
    w.putString(it.service);
    const EventData& e = it.events;
    w.putBool(e.upSound);
    w.putBool(e.downSound);
    w.putBool(e.upCmd);
    w.putBool(e.downCmd);
    w.putBool(e.shutdown);
    w.putBool(e.startService);
    w.putString(e.upSoundFile);
    w.putString(e.downSoundFile);
    w.putString(e.upCmdLine);
    w.putString(e.downCmdLine);
    w.putString(e.shutdownMachine);
    w.putString(e.startServiceName);
    const NotifyData& n = it.notify;
    w.putBool(n.notifyUp);
    w.putBool(n.notifyDown);
    w.putBool(n.msgBox);
    w.putBool(n.sendMails);
    w.putBool(n.netSend);
    w.putString(n.upMsg);
    w.putString(n.downMsg);
    w.putString(n.mailList);
    w.putString(n.netSendList);
}

// Reads one record field by field; any field that finds no data or a bad length makes the
// whole record, and so the file, damaged.
template <typename Reader>
class RecordReader {
  public:
    explicit RecordReader(Reader& r) : r_(r) {}
    bool ok() const { return ok_; }

    void i32(std::int32_t& v) { ok_ = ok_ && r_.getI32(v); }
    void i8(std::int8_t& v) {
        std::int32_t raw = 0;
        i32(raw);
        if (ok_) {
            // Only the low 8 bits are kept.
            v = static_cast<std::int8_t>(static_cast<std::uint8_t>(raw & 0xFF));
        }
    }
    void flag(bool& v) {
        std::uint8_t b = 0;
        ok_ = ok_ && r_.getByte(b);
        if (ok_) {
            v = b != 0;
        }
    }
    // An empty string leaves the field at its default.
    void str(std::string& v) {
        if (!ok_) {
            return;
        }
        const auto res = r_.getString(v);
        ok_ = res == ByteReader::StringResult::Ok || res == ByteReader::StringResult::Empty;
    }

  private:
    Reader& r_;
    bool ok_ = true;
};

template <typename Reader>
bool readRecord(Reader& r, ServerItem& it) {
    RecordReader<Reader> f(r);
    f.i8(it.type);
    f.str(it.name);
    f.str(it.address);
    f.str(it.description);
    f.i32(it.goodCount);
    f.i32(it.badCount);
    f.i32(it.failuresAllowed);
    f.i32(it.consecutiveFailures);
    f.i32(it.status);
    f.i32(it.tcpPort);
    f.i32(it.numPings);
    f.i32(it.pingSeconds);
    f.i8(it.tcpType);
    f.str(it.recvText);
    f.str(it.sendText);
    f.str(it.service);
    EventData& e = it.events;
    f.flag(e.upSound);
    f.flag(e.downSound);
    f.flag(e.upCmd);
    f.flag(e.downCmd);
    f.flag(e.shutdown);
    f.flag(e.startService);
    f.str(e.upSoundFile);
    f.str(e.downSoundFile);
    f.str(e.upCmdLine);
    f.str(e.downCmdLine);
    f.str(e.shutdownMachine);
    f.str(e.startServiceName);
    NotifyData& n = it.notify;
    f.flag(n.notifyUp);
    f.flag(n.notifyDown);
    f.flag(n.msgBox);
    f.flag(n.sendMails);
    f.flag(n.netSend);
    f.str(n.upMsg);
    f.str(n.downMsg);
    f.str(n.mailList);
    f.str(n.netSendList);
    return f.ok();
}

// The exact size of a record, so the writer allocates the file's bytes once.
std::size_t recordSize(const ServerItem& it) {
    std::size_t n = kMinRecordSize;
    for (const std::string* t :
         {&it.name, &it.address, &it.description, &it.recvText, &it.sendText, &it.service,
          &it.events.upSoundFile, &it.events.downSoundFile, &it.events.upCmdLine, &it.events.downCmdLine,
          &it.events.shutdownMachine, &it.events.startServiceName, &it.notify.upMsg, &it.notify.downMsg,
          &it.notify.mailList, &it.notify.netSendList}) {
        n += t->size();
    }
    return n;
}

}  // namespace

std::string encodeDocument(const std::vector<ServerItem>& items, const std::vector<HostExtras>& extras) {
    std::size_t size = 12;
    for (const ServerItem& it : items) {
        size += recordSize(it);
    }
    ByteWriter w;
    w.reserve(size);
    w.putU32(kDocumentMagic);
    w.putI32(kDocumentVersion);
    w.putI32(static_cast<std::int32_t>(items.size()));
    for (const ServerItem& it : items) {
        writeRecord(w, it);
    }
    std::string bytes = w.take();
    if (extras.size() == items.size()) {
        bytes += encodeTrailer(extras);
    }
    return bytes;
}

namespace {

// A list of many hosts takes tens of megabytes; backing it with large pages spares the
// kernel one fault per 4 KiB page as the records are filled in, which is most of the time
// a large load takes. Only a hint: without it the memory works the same.
void preferLargePages(const void* data, std::size_t size) {
#ifdef MADV_HUGEPAGE
    constexpr std::size_t kLarge = std::size_t{2} << 20;
    const auto begin = (reinterpret_cast<std::uintptr_t>(data) + kLarge - 1) & ~(kLarge - 1);
    const auto end = (reinterpret_cast<std::uintptr_t>(data) + size) & ~(kLarge - 1);
    if (end > begin) {
        ::madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
    }
#else
    (void)data;
    (void)size;
#endif
}

// The extended settings that follow the records, if any.
template <typename Reader>
DocumentExtras readExtras(Reader& r, std::size_t hostCount) {
    DocumentExtras extras;
    std::string magic;
    std::string rest;
    if (r.getBytes(kTrailerMagic.size(), magic) && magic == kTrailerMagic && r.getBytes(r.remaining(), rest)) {
        extras.damaged = decodeTrailer(magic + rest, hostCount, extras.hosts) == TrailerRead::Damaged;
    }
    extras.hosts.resize(hostCount);
    return extras;
}

template <typename Reader>
bool decodeFrom(Reader& r, std::vector<ServerItem>& items, DocumentExtras& extras, std::string& error) {
    std::uint32_t magic = 0;
    if (!r.getU32(magic) || magic != kDocumentMagic) {
        error = kDocNotADocument;
        return false;
    }
    std::int32_t version = 0;
    if (!r.getI32(version)) {
        error = kDocDamaged;
        return false;
    }
    if (version != kDocumentVersion) {
        error = kDocBadVersion;
        return false;
    }
    std::int32_t count = 0;
    if (!r.getI32(count)) {
        error = kDocDamaged;
        return false;
    }
    // Records go straight into an empty output; otherwise into a list of their own that is
    // appended only when every record was read.
    std::vector<ServerItem> own;
    std::vector<ServerItem>& records = items.empty() ? items : own;
    const auto damaged = [&] {
        records.clear();
        error = kDocDamaged;
        return false;
    };
    if (count > 0) {
        // A count that the bytes cannot hold is damage, found before anything is allocated.
        if (static_cast<std::size_t>(count) > r.remaining() / kMinRecordSize) {
            return damaged();
        }
        records.reserve(static_cast<std::size_t>(count));
        preferLargePages(records.data(), records.capacity() * sizeof(ServerItem));
        for (std::int32_t i = 0; i < count; ++i) {
            // Each record starts from the defaults of a new host.
            if (!readRecord(r, records.emplace_back())) {
                return damaged();
            }
        }
    }
    extras = readExtras(r, records.size());
    if (&records == &own) {
        items.insert(items.end(), std::make_move_iterator(own.begin()), std::make_move_iterator(own.end()));
    }
    return true;
}

}  // namespace

bool decodeDocument(std::string_view bytes, std::vector<ServerItem>& items, DocumentExtras& extras,
                    std::string& error) {
    ByteReader r(bytes);
    return decodeFrom(r, items, extras, error);
}

bool decodeDocument(std::string_view bytes, std::vector<ServerItem>& items, std::string& error) {
    DocumentExtras extras;
    return decodeDocument(bytes, items, extras, error);
}

bool ServerDoc::save(const std::function<bool()>& beforeReplace) {
    if (fileName.find('.') == std::string::npos) {
        fileName += ".vdm";
    }
    errorReason.clear();
    if (savingLosesExtras()) {
        errorText = std::string(kExtrasDamaged) + " Saving over the file would lose them.";
        return false;
    }
    try {
        FileReplacer out(fileName);
        if (!out.open()) {
            errorText = "Failed to open file for writing.";
            errorReason = out.reason();
            return false;
        }
        // Records are written in blocks, so a large list never needs its whole file in
        // memory at once.
        constexpr std::size_t kBlock = 1 << 20;
        bool written = true;
        withItemsAndExtras([&](const std::vector<ServerItem>& items, const std::vector<HostExtras>& extras) {
            ByteWriter w;
            w.reserve(kBlock + 4096);
            w.putU32(kDocumentMagic);
            w.putI32(kDocumentVersion);
            w.putI32(static_cast<std::int32_t>(items.size()));
            for (const ServerItem& it : items) {
                writeRecord(w, it);
                if (w.bytes().size() >= kBlock) {
                    written = out.write(w.bytes());
                    if (!written) {
                        return;
                    }
                    w.clear();
                }
            }
            written = out.write(w.bytes()) && out.write(encodeTrailer(extras));
        });
        if (!written || !out.commit(beforeReplace)) {
            errorText = "Exception while saving: " + out.reason();
            errorReason = out.reason();
            return false;
        }
    } catch (const std::exception& e) {
        errorText = std::string("Exception while saving: ") + e.what();
        return false;
    } catch (...) {
        errorText = "Unknown error while saving";
        return false;
    }
    modified = false;
    return true;
}

bool ServerDoc::load(const std::string& path) {
    try {
        InputFile file;
        if (!file.open(path)) {
            errorText = "Failed to open file for reading.";
            return false;
        }
        StreamReader r(file.fd(), file.size());
        std::vector<ServerItem> records;
        DocumentExtras extras;
        if (!decodeFrom(r, records, extras, errorText)) {
            return false;
        }
        appendAll(std::move(records), std::move(extras.hosts));
        if (extras.damaged) {
            std::lock_guard lock(mutex_);
            damagedExtrasPath_ = path;
        }
    } catch (const std::exception& e) {
        errorText = std::string("Exception while saving: ") + e.what();
        return false;
    } catch (...) {
        errorText = "Unknown exception while saving.";
        return false;
    }
    fileName = path;
    modified = false;
    return true;
}
