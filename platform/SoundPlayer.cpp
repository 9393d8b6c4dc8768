#include "platform/SoundPlayer.h"

#include <canberra.h>

#include <cstdint>

namespace {
// Every sound of the program shares one id, so "is anything still playing" is one query.
constexpr std::uint32_t kSoundId = 1;
}  // namespace

struct CanberraSoundPlayer::Context {
    ca_context* handle = nullptr;
    ~Context() {
        if (handle != nullptr) {
            ca_context_destroy(handle);
        }
    }
};

CanberraSoundPlayer::CanberraSoundPlayer() = default;

// The context is destroyed here, which ends sounds still playing.
CanberraSoundPlayer::~CanberraSoundPlayer() = default;

void CanberraSoundPlayer::play(const std::string& file) {
    std::lock_guard lock(mutex_);
    if (!context_) {
        // Made on first use: a host without sounds never opens the sound stack.
        auto ctx = std::make_unique<Context>();
        if (ca_context_create(&ctx->handle) != CA_SUCCESS) {
            return;
        }
        ca_context_change_props(ctx->handle, CA_PROP_APPLICATION_NAME, "Kestrune Vardomon", nullptr);
        context_ = std::move(ctx);
    }
    ca_context_play(context_->handle, kSoundId, CA_PROP_MEDIA_FILENAME, file.c_str(), CA_PROP_MEDIA_ROLE,
                    "event", CA_PROP_CANBERRA_CACHE_CONTROL, "never", nullptr);
}

bool CanberraSoundPlayer::playing() {
    std::lock_guard lock(mutex_);
    if (!context_) {
        return false;
    }
    int now = 0;
    if (ca_context_playing(context_->handle, kSoundId, &now) != CA_SUCCESS) {
        return false;
    }
    return now != 0;
}
