#include "platform/SoundPlayer.h"

#include <canberra.h>

#include <cstdint>

namespace {

// Every sound of the program shares one id, so "is anything still playing" is one query.
constexpr std::uint32_t kSoundId = 1;

// One context for the whole process, never destroyed: destroying it unloads the sound
// driver, and a driver thread that is just finishing a sound would then run on in code that
// is gone. A sound still playing when the program ends simply ends with it.
struct SharedContext {
    std::mutex mutex;
    ca_context* handle = nullptr;
    bool failed = false;
};

SharedContext& shared() {
    static SharedContext* context = new SharedContext;  // intentionally never deleted
    return *context;
}

}  // namespace

void CanberraSoundPlayer::play(const std::string& file) {
    SharedContext& ctx = shared();
    std::lock_guard lock(ctx.mutex);
    if (ctx.handle == nullptr && !ctx.failed) {
        // Made on first use: a run without sounds never opens the sound stack.
        if (ca_context_create(&ctx.handle) != CA_SUCCESS) {
            ctx.handle = nullptr;
            ctx.failed = true;
            return;
        }
        ca_context_change_props(ctx.handle, CA_PROP_APPLICATION_NAME, "Kestrune Vardomon", nullptr);
    }
    if (ctx.handle == nullptr) {
        return;
    }
    ca_context_play(ctx.handle, kSoundId, CA_PROP_MEDIA_FILENAME, file.c_str(), CA_PROP_MEDIA_ROLE, "event",
                    CA_PROP_CANBERRA_CACHE_CONTROL, "never", nullptr);
}

bool CanberraSoundPlayer::playing() {
    SharedContext& ctx = shared();
    std::lock_guard lock(ctx.mutex);
    if (ctx.handle == nullptr) {
        return false;
    }
    int now = 0;
    if (ca_context_playing(ctx.handle, kSoundId, &now) != CA_SUCCESS) {
        return false;
    }
    return now != 0;
}
