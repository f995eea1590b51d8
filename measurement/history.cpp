#include "measurement/history.h"

namespace kp33 {

void SampleHistory::storeLocked(long double t)
{
    for (int i = HistorySize - 1; i > 0; --i)
        m_history[i] = m_history[i - 1];
    m_history[0] = TSample{t, m_lol, m_hil};
}

void SampleHistory::updateStatisticsLocked()
{
    if (++m_sampleIndex >= HistorySize)
        m_sampleIndex = 0;
    if (m_sampleCount < HistorySize)
        ++m_sampleCount;
    m_maxTemp = m_minTemp = m_history[0].Temp;
    for (int i = 1; i < m_sampleCount; ++i) {
        if (m_history[i].Temp > m_maxTemp)
            m_maxTemp = m_history[i].Temp;
        if (m_history[i].Temp < m_minTemp)
            m_minTemp = m_history[i].Temp;
    }
}

void SampleHistory::Store(long double t)
{
    std::lock_guard lock(m_mutex);
    storeLocked(t);
}

void SampleHistory::UpdateStatistics()
{
    std::lock_guard lock(m_mutex);
    updateStatisticsLocked();
}

void SampleHistory::StoreAndUpdate(long double t)
{
    std::lock_guard lock(m_mutex);
    storeLocked(t);
    updateStatisticsLocked();
}

void SampleHistory::Reset()
{
    std::lock_guard lock(m_mutex);
    for (auto &s : m_history)
        s.Temp = NoTemp;
    m_sampleIndex = 0;
    m_sampleCount = 0;
    m_maxTemp = MaxTempEmpty;
    m_minTemp = MinTempEmpty;
}

void SampleHistory::MarkEmpty()
{
    std::lock_guard lock(m_mutex);
    for (auto &s : m_history)
        s.Temp = NoTemp;
}

HistorySnapshot SampleHistory::Snapshot() const
{
    std::lock_guard lock(m_mutex);
    HistorySnapshot s;
    s.History = m_history;
    s.SampleCount = m_sampleCount;
    s.SampleIndex = m_sampleIndex;
    s.MaxTemp = m_maxTemp;
    s.MinTemp = m_minTemp;
    s.LoL = m_lol;
    s.HiL = m_hil;
    return s;
}

std::uint8_t SampleHistory::SampleIndex() const
{
    std::lock_guard lock(m_mutex);
    return m_sampleIndex;
}

void SampleHistory::NewestLimits(long double &lol, long double &hil) const
{
    std::lock_guard lock(m_mutex);
    // An empty entry 1 (no sample yet, or the history was reset) holds no
    // limits of its own: a row before the first good reading carries the
    // limits in force.
    const bool empty = m_history[0].Temp >= NoTemp;
    lol = empty ? m_lol : m_history[0].LoL;
    hil = empty ? m_hil : m_history[0].HiL;
}

long double SampleHistory::LoL() const
{
    std::lock_guard lock(m_mutex);
    return m_lol;
}

long double SampleHistory::HiL() const
{
    std::lock_guard lock(m_mutex);
    return m_hil;
}

void SampleHistory::SetLoL(long double v)
{
    std::lock_guard lock(m_mutex);
    m_lol = v;
}

void SampleHistory::SetHiL(long double v)
{
    std::lock_guard lock(m_mutex);
    m_hil = v;
}

QString SampleHistory::FileSave() const
{
    std::lock_guard lock(m_mutex);
    return m_fileSave;
}

void SampleHistory::SetFileSave(const QString &name)
{
    std::lock_guard lock(m_mutex);
    m_fileSave = name;
}

SampleHistory &history()
{
    static SampleHistory h;
    return h;
}

} // namespace kp33
