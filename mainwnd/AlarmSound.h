#pragma once

// The alarm of an answered call: "alarm.wav" played looped until stopped.
// Playing when it already plays changes nothing.

#include <QString>

#include <memory>

class QSoundEffect;

class AlarmSound {
public:
    // `path`: the sound file; empty when none was found (nothing then plays).
    explicit AlarmSound(QString path);
    ~AlarmSound();
    AlarmSound(const AlarmSound&) = delete;
    AlarmSound& operator=(const AlarmSound&) = delete;

    // Starts the looping sound; false when there is no sound file.
    bool play();
    void Stop();
    bool isPlaying() const;

private:
    QString m_path;
    std::unique_ptr<QSoundEffect> m_effect;
};
