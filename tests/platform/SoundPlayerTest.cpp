#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <string>

#include "platform/SoundPlayer.h"
#include "support/SpawnedProcess.h"
#include "support/TempDir.h"

namespace {

void putLe(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) {
        out += static_cast<char>((value >> (8 * i)) & 0xFF);
    }
}

// A mono 16-bit PCM WAV file with the given samples.
std::string wavFile(const std::string& pcm, std::uint32_t rate) {
    std::string w = "RIFF";
    putLe(w, static_cast<std::uint32_t>(36 + pcm.size()), 4);
    w += "WAVEfmt ";
    putLe(w, 16, 4);
    putLe(w, 1, 2);  // PCM
    putLe(w, 1, 2);  // mono
    putLe(w, rate, 4);
    putLe(w, rate * 2, 4);
    putLe(w, 2, 2);
    putLe(w, 16, 2);
    w += "data";
    putLe(w, static_cast<std::uint32_t>(pcm.size()), 4);
    return w + pcm;
}

// Without a sound card: the default ALSA device of this process is a file device that
// stores the raw PCM bytes it is given, set up through the HOME of the test.
TEST(CanberraSoundPlayer, PlaysAWavFileIntoTheDefaultDeviceByteForByte) {
    TempDir dir;
    const std::string raw = dir.file("out.raw");
    writeFileBytes(dir.file(".asoundrc"), "pcm.!default {\n type file\n slave.pcm \"null\"\n file \"" + raw +
                                              "\"\n format \"raw\"\n}\n");
    ::setenv("HOME", dir.path().c_str(), 1);
    ::setenv("CANBERRA_DRIVER", "alsa", 1);
    ::unsetenv("ALSA_CONFIG_PATH");

    std::string pcm;
    for (int i = 0; i < 8000; ++i) {
        putLe(pcm, static_cast<std::uint32_t>((i * 37) & 0xFFFF), 2);
    }
    const std::string wav = dir.file("alert.wav");
    writeFileBytes(wav, wavFile(pcm, 16000));

    CanberraSoundPlayer player;
    player.play(dir.file("missing.wav"));  // ignored
    player.play(wav);
    ASSERT_TRUE(waitUntil([&] { return readFileBytes(raw).size() >= pcm.size() && !player.playing(); }))
        << "received " << readFileBytes(raw).size() << " of " << pcm.size() << " bytes";
    EXPECT_EQ(readFileBytes(raw), pcm);
}

}  // namespace
