// Sounds played for a transition: a WAV file started and left to play while the caller goes
// on.
#pragma once

#include <mutex>
#include <string>

class SoundPlayer {
  public:
    virtual ~SoundPlayer() = default;
    // Starts playing the file and returns at once; a missing or unplayable file is ignored.
    virtual void play(const std::string& file) = 0;
};

// Plays through libcanberra, which hands the sound to the desktop's sound stack (or ALSA).
// All players of the process share one sound context.
class CanberraSoundPlayer final : public SoundPlayer {
  public:
    void play(const std::string& file) override;
    // Whether a sound is still playing (for tests).
    bool playing();
};
