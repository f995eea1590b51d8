#pragma once
// The sensor search: opens the configured port, reads the ROM code of the one
// device on the bus, tells its family and serial number, and leaves them in
// SensorFound, SensorType and SensorROM. It runs by itself and closes itself.

#include <QDialog>
#include <cstdint>
#include <functional>

class QLabel;

namespace kp33 {

// What a ROM code says, for the search and for tests.
struct RomFinding {
    QString caption;   // "Найден: DS18B20", "Найдено неизвестное устройство!"
    std::uint8_t type; // TSensorType
    QString serial;    // "Серийный номер: 060504030201h"
    std::uint32_t word1, word2;
};
RomFinding DescribeRom(const std::uint8_t rom[8]);

class TInitSensor : public QDialog {
    Q_OBJECT
public:
    // openPort: the session's OpenPort (it shows its own message on failure).
    TInitSensor(QWidget *parent, std::uint8_t port, std::function<bool(std::uint8_t)> openPort);

    static constexpr int Attempts = 3;
    static constexpr std::uint32_t StartDelayMs = 500;
    static constexpr std::uint32_t RetryPauseMs = 500;
    static constexpr std::uint32_t ShowResultMs = 1500;

    // The program is closing: the bus exchange under way finishes, no further
    // attempt is made, and the dialog closes without showing its finding.
    void Abandon();

public slots:
    void reject() override; // Esc does nothing: the search closes itself

protected:
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void TimerTimer();

    std::uint8_t m_port;
    std::function<bool(std::uint8_t)> m_openPort;
    QLabel *FindSensor;
    QLabel *Sensor;
    QLabel *SN;
    bool m_started = false;
    bool m_done = false;
    bool m_abandoned = false;
};

} // namespace kp33
