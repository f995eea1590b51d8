#include "mainwindow/alarmsound.h"

#include <windows.h>
#include <mmsystem.h>

// The WAVE is the program's RCDATA resource "WARNING" (resources/kp33.rc),
// played from memory by sndPlaySound.

namespace kp33 {

namespace {

// The resource belongs to the loaded program and stays where it is while
// the sound plays; there is nothing to free (FreeResource does nothing).
const void *warningWave()
{
    HRSRC found = FindResourceW(nullptr, L"WARNING", RT_RCDATA);
    if (!found)
        return nullptr;
    HGLOBAL loaded = LoadResource(nullptr, found);
    return loaded ? LockResource(loaded) : nullptr;
}

} // namespace

struct AlarmSound::Platform {
    bool playing = false;
};

AlarmSound::AlarmSound() : m_platform(std::make_unique<Platform>()) {}

AlarmSound::~AlarmSound() { stop(); }

void AlarmSound::play()
{
    const void *wave = warningWave();
    if (!wave)
        return;
    // Its answer is not the alarm's state: a machine without an audio
    // device may refuse the sound, and the alarm is no less on.
    sndPlaySoundW(static_cast<LPCWSTR>(wave), SND_ASYNC | SND_MEMORY | SND_LOOP);
    m_platform->playing = true;
}

void AlarmSound::stop()
{
    sndPlaySoundW(nullptr, SND_NODEFAULT);
    m_platform->playing = false;
}

bool AlarmSound::playing() const { return m_platform->playing; }

} // namespace kp33
