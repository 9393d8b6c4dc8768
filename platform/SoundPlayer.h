// Sounds played for a transition: a WAV file started and left to play while the caller goes
// on.
#pragma once

#include <memory>
#include <mutex>
#include <string>

class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;
    // Starts playing the file and returns at once; a missing or unplayable file is ignored.
    virtual void play(const std::string& file) = 0;
};

// Plays through libcanberra, which hands the sound to the desktop's sound stack (or ALSA).
class CanberraSoundPlayer final : public SoundPlayer {
  public:
    CanberraSoundPlayer();
    ~CanberraSoundPlayer() override;
    CanberraSoundPlayer(const CanberraSoundPlayer&) = delete;
    CanberraSoundPlayer& operator=(const CanberraSoundPlayer&) = delete;

    void play(const std::string& file) override;
    // Whether a sound started by this player is still playing (for tests).
    bool playing();

  private:
    struct Context;
    std::mutex mutex_;
    std::unique_ptr<Context> context_;
};
