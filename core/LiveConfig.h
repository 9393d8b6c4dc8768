// The settings that the option controls change while the monitor thread, the probes and the
// actions read them. Every access takes one lock, so no reader sees a half-written text.
#pragma once

#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>

#include "core/Settings.h"
#include "core/Vardo.h"

class LiveConfig {
  public:
    LiveConfig() = default;
    explicit LiveConfig(ServerCfg initial, Settings extra = {})
        : cfg_(std::move(initial)), extra_(std::move(extra)) {}
    LiveConfig(const LiveConfig&) = delete;
    LiveConfig& operator=(const LiveConfig&) = delete;

    // A consistent copy of every setting.
    ServerCfg get() const {
        std::lock_guard lock(mutex_);
        return cfg_;
    }
    void set(ServerCfg cfg) {
        std::lock_guard lock(mutex_);
        cfg_ = std::move(cfg);
    }
    // Changes some settings as one step.
    void update(const std::function<void(ServerCfg&)>& change) {
        std::lock_guard lock(mutex_);
        change(cfg_);
    }

    std::int32_t interval() const {
        std::lock_guard lock(mutex_);
        return cfg_.interval;
    }
    // The pause between cycles in seconds: the interval's minutes, unless a front end has set
    // seconds of its own for this run (never saved).
    long long intervalSeconds() const {
        std::lock_guard lock(mutex_);
        return intervalSeconds_ ? *intervalSeconds_ : static_cast<long long>(cfg_.interval) * 60;
    }
    void overrideIntervalSeconds(std::optional<std::int32_t> seconds) {
        std::lock_guard lock(mutex_);
        intervalSeconds_ = seconds;
    }

    std::int32_t connectTimeout() const {
        std::lock_guard lock(mutex_);
        return cfg_.connectTimeout;
    }

    // The settings of settings.toml, under the same lock.
    Settings extra() const {
        std::lock_guard lock(mutex_);
        return extra_;
    }
    void updateExtra(const std::function<void(Settings&)>& change) {
        std::lock_guard lock(mutex_);
        change(extra_);
    }

  private:
    mutable std::mutex mutex_;
    ServerCfg cfg_;
    Settings extra_;
    std::optional<std::int32_t> intervalSeconds_;
};
