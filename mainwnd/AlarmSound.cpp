#include "mainwnd/AlarmSound.h"

#include <QSoundEffect>
#include <QUrl>

AlarmSound::AlarmSound(QString path)
    : m_path(std::move(path)) {}

AlarmSound::~AlarmSound() = default;

bool AlarmSound::play() {
    if (m_path.isEmpty())
        return false;
    if (!m_effect) {
        // Made on first use: opening the audio output costs time at start-up.
        m_effect = std::make_unique<QSoundEffect>();
        m_effect->setSource(QUrl::fromLocalFile(m_path));
        m_effect->setLoopCount(QSoundEffect::Infinite);
    }
    if (!m_effect->isPlaying())
        m_effect->play();
    return m_effect->status() != QSoundEffect::Error;
}

void AlarmSound::Stop() {
    if (m_effect)
        m_effect->stop();
}

bool AlarmSound::isPlaying() const {
    return m_effect && m_effect->isPlaying();
}
