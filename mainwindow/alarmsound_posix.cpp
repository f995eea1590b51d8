#include "mainwindow/alarmsound.h"

#include <QSoundEffect>
#include <QUrl>

// The WAVE is the Qt resource :/WARNING, played by Qt Multimedia.

namespace kp33 {

struct AlarmSound::Platform {
    QSoundEffect effect;
};

AlarmSound::AlarmSound() : m_platform(std::make_unique<Platform>())
{
    m_platform->effect.setSource(QUrl(QStringLiteral("qrc:/WARNING")));
    m_platform->effect.setLoopCount(QSoundEffect::Infinite);
}

AlarmSound::~AlarmSound() = default;

void AlarmSound::play() { m_platform->effect.play(); }

void AlarmSound::stop() { m_platform->effect.stop(); }

bool AlarmSound::playing() const { return m_platform->effect.isPlaying(); }

} // namespace kp33
