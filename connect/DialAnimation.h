#pragma once

// The dialing status icon's five-step animation: each tick shows icon
// 121 + index and then advances the index, wrapping from 4 to 0, so the
// icons run 121, 122, 123, 124, 125 and start again.

class DialAnimation {
public:
    static constexpr int kFirstIcon = 121;
    static constexpr int kSteps = 5;

    // The icon to show on this tick.
    int tick() {
        const int icon = kFirstIcon + m_index;
        m_index = (m_index + 1) % kSteps;
        return icon;
    }
    int index() const { return m_index; }

private:
    int m_index = 0;
};
