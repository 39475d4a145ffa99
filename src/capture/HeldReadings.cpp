#include "HeldReadings.h"

bool HeldReadings::push(const Reading& reading) {
    if (size() >= MaxCount || m_chars + reading.text.size() > MaxChars)
        return false;
    m_chars += reading.text.size();
    m_queue.push_back(reading);
    return true;
}

void HeldReadings::pop() {
    if (m_queue.front().markedHeld)
        --m_marked;
    m_chars -= m_queue.front().text.size();
    m_queue.pop_front();
}

void HeldReadings::clear() {
    m_queue.clear();
    m_chars = 0;
    m_marked = 0;
}
