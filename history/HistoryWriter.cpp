#include "history/HistoryWriter.h"

#include "history/RollUp.h"
#include "history/Schema.h"
#include "history/Sqlite.h"

namespace {

// A batch is written at once, without waiting for its 250 ms, when this many wait.
constexpr std::size_t kBatchMost = 20'000;

std::string keyText(const SeriesKey& k) {
    std::string t;
    t.reserve(k.document.size() + k.name.size() + k.address.size() + 16);
    for (const std::string* part : {&k.document, &k.name, &k.type, &k.address}) {
        t += *part;
        t += '\x1f';
    }
    t += std::to_string(k.twin);
    return t;
}

}  // namespace

HistoryWriter::HistoryWriter(Options options) : o_(std::move(options)) {}

HistoryWriter::~HistoryWriter() {
    {
        std::lock_guard lock(mutex_);
        stop_ = true;
    }
    wake_.notify_all();
    if (thread_.joinable()) {
        thread_.join();
    }
}

bool HistoryWriter::start() {
    OpenedStore opened = openForWriting(o_.path);
    note_ = std::move(opened.note);
    if (!opened.db) {
        return false;
    }
    db_ = std::move(opened.db);
    rollUp_ = std::make_unique<RollUp>(*db_, o_.keep);
    insertCheck_ =
        std::make_unique<Statement>(db_->prepare("INSERT OR IGNORE INTO checks VALUES(?,?,?,?,?)"));
    // Spans a killed program left open end where it last wrote; they are closed by then.
    thread_ = std::thread([this] { loop(); });
    return true;
}

std::int64_t HistoryWriter::nowMs() const {
    if (o_.now) {
        return o_.now();
    }
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

void HistoryWriter::say(const std::string& text) {
    if (o_.notice) {
        o_.notice(text);
    }
}

const SeriesKey* HistoryWriter::intern(const SeriesKey& key) {
    std::lock_guard lock(internMutex_);
    std::unique_ptr<const SeriesKey>& kept = interned_[keyText(key)];
    if (!kept) {
        kept = std::make_unique<const SeriesKey>(key);
    }
    return kept.get();
}

void HistoryWriter::trimLocked() {
    if (queue_.size() <= o_.queueLimit) {
        return;
    }
    // An eighth of the bound at a time, so a full queue does not move its whole length for
    // every result that comes.
    const std::size_t drop = std::min(queue_.size(), queue_.size() - o_.queueLimit + o_.queueLimit / 8);
    queue_.erase(queue_.begin(), queue_.begin() + static_cast<std::ptrdiff_t>(drop));
    dropped_ += drop;
    settled_ += drop;
}

void HistoryWriter::enqueue(Job job) {
    bool wake = false;
    {
        std::lock_guard lock(mutex_);
        ++handed_;
        queue_.push_back(std::move(job));
        trimLocked();
        // The writer waits for a first result, then for its batch to fill or its time to
        // pass: only those two moments need to wake it.
        wake = queue_.size() == 1 || queue_.size() == kBatchMost;
    }
    if (wake) {
        wake_.notify_one();
    }
}

const std::string& HistoryWriter::Job::reason() const {
    static const std::string none;
    return rare ? rare->reason : none;
}

const std::string& HistoryWriter::Job::outageReason() const {
    static const std::string none;
    return rare ? rare->outageReason : none;
}

void HistoryWriter::record(CheckEvent event) {
    Job job;
    job.good = event.good;
    job.change = event.change;
    job.key = event.key;
    job.at = event.at;
    job.ms = event.ms;
    job.outageStart = event.outageStart;
    if (!event.reason.empty() || !event.outageReason.empty()) {
        job.rare = std::make_unique<Rare>();
        job.rare->reason = std::move(event.reason);
        job.rare->outageReason = std::move(event.outageReason);
    }
    enqueue(std::move(job));
}

void HistoryWriter::monitoring(const std::string& document, bool on, std::int64_t at) {
    Job job;
    job.kind = on ? Job::Kind::MonitoringOn : Job::Kind::MonitoringOff;
    job.at = at;
    job.rare = std::make_unique<Rare>();
    job.rare->document = document;
    enqueue(std::move(job));
}

void HistoryWriter::rename(const SeriesKey& from, const SeriesKey& to) {
    Job job;
    job.kind = Job::Kind::Rename;
    job.key = intern(from);
    job.rare = std::make_unique<Rare>();
    job.rare->to = to;
    enqueue(std::move(job));
}

void HistoryWriter::rollUpNow() {
    Job job;
    job.kind = Job::Kind::RollUp;
    enqueue(std::move(job));
}

bool HistoryWriter::flush(std::chrono::milliseconds limit) {
    std::unique_lock lock(mutex_);
    const std::uint64_t target = handed_;
    urgent_ = true;
    wake_.notify_one();
    return written_.wait_for(lock, limit, [&] { return settled_ >= target; });
}

std::int64_t HistoryWriter::seriesId(const SeriesKey* interned, std::int64_t at) {
    if (const auto it = ids_.find(interned); it != ids_.end()) {
        return it->second;
    }
    const SeriesKey& key = *interned;
    std::int64_t id = 0;
    if (const std::optional<std::int64_t> found = findSeries(*db_, key)) {
        id = *found;
    } else {
        Statement add = db_->prepare(
            "INSERT INTO series(document, name, type, address, twin, created) "
            "VALUES(?,?,?,?,?,?)");
        add.bind(1, key.document).bind(2, key.name).bind(3, key.type).bind(4, key.address);
        add.bind(5, std::int64_t{key.twin}).bind(6, at).run();
        id = sqlite3_last_insert_rowid(db_->handle());
    }
    ids_.emplace(interned, id);
    return id;
}

void HistoryWriter::writeCheck(const Job& e) {
    const std::int64_t id = seriesId(e.key, e.at);
    std::int64_t t = e.at;
    // Checks of one second keep their order and key; a clock that stepped back further
    // writes at the time it says.
    if (const auto last = lastAt_.find(id);
        last != lastAt_.end() && t <= last->second && t > last->second - 1000) {
        t = last->second + 1;
    }
    lastAt_[id] = t;
    Statement& insert = *insertCheck_;
    insert.bind(1, id)
        .bind(2, t)
        .bind(3, std::int64_t{e.good ? 1 : 0})
        .bind(4, std::max<std::int64_t>(e.ms, 0));
    const std::string_view reason =
        e.reason().empty() ? std::string_view(defaultFailureText(e.key->type)) : std::string_view(e.reason());
    if (e.good) {
        insert.bindNull(5);
    } else {
        insert.bind(5, reason);
    }
    insert.run();
    rollUp_->touched(t);
    if (e.change == CheckEvent::Change::WentDown) {
        Statement open = db_->prepare(
            "INSERT INTO outages(series, start, end, reason) SELECT ?, ?, NULL, ? "
            "WHERE NOT EXISTS (SELECT 1 FROM outages WHERE series=? AND end IS NULL)");
        // Without the start of its failures, the outage starts with this check.
        open.bind(1, id).bind(2, e.outageStart > 0 ? std::min(e.outageStart, t) : t);
        open.bind(3, e.outageReason().empty() ? reason : std::string_view(e.outageReason()));
        open.bind(4, id).run();
    } else if (e.change == CheckEvent::Change::WentUp) {
        Statement close = db_->prepare("UPDATE outages SET end=max(start, ?) WHERE series=? AND end IS NULL");
        close.bind(1, t).bind(2, id).run();
    }
}

void HistoryWriter::writeBatch(const std::vector<Job>& batch) {
    const std::int64_t now = nowMs();
    Transaction tx(*db_);
    for (const Job& job : batch) {
        switch (job.kind) {
            case Job::Kind::Check:
                writeCheck(job);
                break;
            case Job::Kind::MonitoringOn: {
                if (openSpans_.count(job.rare->document) != 0) {
                    break;
                }
                Statement s = db_->prepare("INSERT INTO spans(document, start, end) VALUES(?,?,?)");
                s.bind(1, job.rare->document).bind(2, job.at).bind(3, job.at).run();
                openSpans_[job.rare->document] = sqlite3_last_insert_rowid(db_->handle());
                break;
            }
            case Job::Kind::MonitoringOff: {
                const auto it = openSpans_.find(job.rare->document);
                if (it == openSpans_.end()) {
                    break;
                }
                Statement s = db_->prepare("UPDATE spans SET end=max(end, ?) WHERE id=?");
                s.bind(1, job.at).bind(2, it->second).run();
                openSpans_.erase(it);
                break;
            }
            case Job::Kind::Rename: {
                const std::int64_t id = seriesId(job.key, now);
                Statement s =
                    db_->prepare("UPDATE OR IGNORE series SET name=?, type=?, address=?, twin=? WHERE id=?");
                s.bind(1, job.rare->to.name).bind(2, job.rare->to.type).bind(3, job.rare->to.address);
                s.bind(4, std::int64_t{job.rare->to.twin}).bind(5, id).run();
                ids_.clear();
                break;
            }
            case Job::Kind::RollUp:
                break;
        }
    }
    // A killed program's spans end where it last wrote.
    for (const auto& [doc, id] : openSpans_) {
        Statement s = db_->prepare("UPDATE spans SET end=max(end, ?) WHERE id=?");
        s.bind(1, now).bind(2, id).run();
    }
    tx.commit();
}

void HistoryWriter::loop() {
    auto lastRollUp = std::chrono::steady_clock::now();
    std::vector<Job> batch;
    std::unique_lock lock(mutex_);
    for (;;) {
        const bool wasPaused = paused_;
        if (wasPaused && !stop_) {
            wake_.wait_for(lock, o_.retryEvery, [&] { return stop_; });
        } else if (!stop_) {
            // The first result of a batch starts its 250 ms; an idle writer still keeps the
            // spans and tiers up to date.
            wake_.wait_for(lock, o_.rollUpEvery, [&] { return stop_ || urgent_ || !queue_.empty(); });
            if (!stop_ && !urgent_ && !queue_.empty()) {
                wake_.wait_for(lock, o_.batchEvery,
                               [&] { return stop_ || urgent_ || queue_.size() >= kBatchMost; });
            }
        }
        urgent_ = false;
        // The two vectors change places and keep their room: no allocation once warm.
        batch.clear();
        batch.swap(queue_);
        const bool stopping = stop_;
        lock.unlock();

        bool rollUpAsked = false;
        for (const Job& j : batch) {
            rollUpAsked = rollUpAsked || j.kind == Job::Kind::RollUp;
        }
        const std::map<std::string, std::int64_t> spansBefore = openSpans_;
        std::string failure;
        try {
            writeBatch(batch);
            const auto steady = std::chrono::steady_clock::now();
            if (rollUpAsked || steady - lastRollUp >= o_.rollUpEvery) {
                rollUp_->run(nowMs());
                lastRollUp = steady;
            }
        } catch (const SqliteError& e) {
            failure = e.what();
        }

        lock.lock();
        if (failure.empty()) {
            settled_ += batch.size();
            if (wasPaused) {
                paused_ = false;
                const std::uint64_t lost = dropped_;
                lock.unlock();
                say("History resumed (" + std::to_string(lost) + " results could not be kept)");
                lock.lock();
            }
        } else {
            // What the failed transaction wrote is gone: the batch goes first again.
            ids_.clear();
            openSpans_ = spansBefore;
            queue_.insert(queue_.begin(), std::make_move_iterator(batch.begin()),
                          std::make_move_iterator(batch.end()));
            batch.clear();
            trimLocked();
            if (!wasPaused) {
                paused_ = true;
                lock.unlock();
                say("History paused: " + failure);
                lock.lock();
            }
            if (stopping) {
                // Nobody waits any more: what could not be written is lost, and counted.
                dropped_ += queue_.size();
                settled_ += queue_.size();
                queue_.clear();
            }
        }
        written_.notify_all();
        if (stopping && queue_.empty()) {
            return;
        }
    }
}
