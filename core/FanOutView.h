// One monitor view that passes every call on to several: the window's or the daemon's own,
// and the metrics when they are served. Views are added before the monitor thread starts
// and stay for its whole life; each is called in the order it was added.
#pragma once

#include <vector>

#include "core/MonitorView.h"

class FanOutView final : public MonitorView {
  public:
    explicit FanOutView(MonitorView& first) : views_{&first} {}

    void add(MonitorView& view) { views_.push_back(&view); }

    void refreshAllRows() override {
        for (MonitorView* v : views_) {
            v->refreshAllRows();
        }
    }
    void refreshHostRows() override {
        for (MonitorView* v : views_) {
            v->refreshHostRows();
        }
    }
    void cycleStarted() override {
        for (MonitorView* v : views_) {
            v->cycleStarted();
        }
    }
    void markRowChecking(std::size_t row) override {
        for (MonitorView* v : views_) {
            v->markRowChecking(row);
        }
    }
    void checkTook(std::size_t row, std::chrono::milliseconds took) override {
        for (MonitorView* v : views_) {
            v->checkTook(row, took);
        }
    }
    void certificateSeen(std::size_t row, std::time_t expiry) override {
        for (MonitorView* v : views_) {
            v->certificateSeen(row, expiry);
        }
    }
    void showRowCounts(std::size_t row, const ServerItem& item) override {
        for (MonitorView* v : views_) {
            v->showRowCounts(row, item);
        }
    }
    void showRowStatus(std::size_t row, const ServerItem& item) override {
        for (MonitorView* v : views_) {
            v->showRowStatus(row, item);
        }
    }
    void setStatusText(const std::string& text) override {
        for (MonitorView* v : views_) {
            v->setStatusText(text);
        }
    }
    void checkApplied(std::size_t row, const ServerItem& host, const AppliedCheck& check) override {
        for (MonitorView* v : views_) {
            v->checkApplied(row, host, check);
        }
    }

  private:
    std::vector<MonitorView*> views_;
};
