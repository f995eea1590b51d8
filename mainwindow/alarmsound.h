#pragma once
// The alarm's warning sound: the WAVE "WARNING" that travels inside the
// program, looped and played asynchronously.

#include <memory>

namespace kp33 {

class AlarmSound {
public:
    AlarmSound();
    ~AlarmSound();
    AlarmSound(const AlarmSound &) = delete;
    AlarmSound &operator=(const AlarmSound &) = delete;

    // A program that carries no sound plays nothing, and says nothing of it.
    void play();
    void stop();
    // Set by play() when there is a sound to play, cleared by stop(). With
    // no audio device the sound "plays" all the same.
    bool playing() const;

private:
    struct Platform;
    std::unique_ptr<Platform> m_platform;
};

} // namespace kp33
