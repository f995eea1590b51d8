#include "dialogs/initsensor.h"

#include "sensorbus/clock.h"
#include "sensorbus/globals.h"
#include "sensorbus/txrx.h"

#include <QCloseEvent>
#include <QLabel>
#include <QTimer>

namespace kp33 {

namespace {

QLabel *line(QWidget *parent, const char *name, QPoint at, bool bold)
{
    auto *l = new QLabel(parent);
    l->setObjectName(QLatin1String(name));
    QFont f = l->font();
    f.setPixelSize(13);
    f.setBold(bold);
    l->setFont(f);
    l->move(at);
    l->resize(parent->width() - at.x() - 4, 17);
    return l;
}

QString hex2(std::uint8_t b) { return QStringLiteral("%1").arg(b, 2, 16, QLatin1Char('0')).toUpper(); }

} // namespace

RomFinding DescribeRom(const std::uint8_t r[8])
{
    RomFinding f;
    f.type = SensorFamily(r);
    switch (f.type) {
    case stDS1820: f.caption = QStringLiteral("Найден: DS1820"); break;
    case stDS18S20: f.caption = QStringLiteral("Найден: DS18S20"); break;
    case stDS18B20: f.caption = QStringLiteral("Найден: DS18B20"); break;
    default: f.caption = QStringLiteral("Найдено неизвестное устройство!");
    }
    f.serial = QStringLiteral("Серийный номер: ");
    for (int i = 6; i >= 1; --i)
        f.serial += hex2(r[i]);
    f.serial += QLatin1Char('h');
    f.word1 = PackBytes(r[0], r[6], r[5], r[4]);
    f.word2 = PackBytes(r[3], r[2], r[1], r[7]);
    return f;
}

TInitSensor::TInitSensor(QWidget *parent, std::uint8_t port, std::function<bool(std::uint8_t)> openPort)
    : QDialog(parent), m_port(port), m_openPort(std::move(openPort))
{
    setObjectName(QStringLiteral("TInitSensor"));
    setWindowTitle(QStringLiteral("Инициализация датчика"));
    // No close box and no window menu: the search cannot be cut short.
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(335, 98);
    FindSensor = line(this, "FindSensor", {11, 16}, true);
    Sensor = line(this, "Sensor", {16, 48}, false);
    SN = line(this, "SN", {16, 72}, false);
    FindSensor->setText(QStringLiteral("Ищу датчик на порте COM%1...").arg(port));
    SensorROM[0] = 0;
    SensorROM[1] = 0;
}

void TInitSensor::reject() {}

void TInitSensor::Abandon() { m_abandoned = true; }

void TInitSensor::closeEvent(QCloseEvent *event)
{
    if (m_done)
        event->accept();
    else
        event->ignore();
}

void TInitSensor::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    if (!m_started) {
        m_started = true;
        // The delay lets the window appear with its search line before the
        // port is touched.
        QTimer::singleShot(0, this, [this] {
            theClock().pauseDispatching(StartDelayMs);
            TimerTimer();
        });
    }
}

void TInitSensor::TimerTimer()
{
    bool found = false;
    std::uint8_t rom[8] = {};
    if (!m_abandoned && m_openPort(m_port)) {
        for (int attempt = 0; attempt < Attempts && !found && !m_abandoned; ++attempt) {
            found = ReadRom(rom);
            if (!found && !m_abandoned)
                theClock().pauseDispatching(RetryPauseMs);
        }
    }
    if (found) {
        const RomFinding f = DescribeRom(rom);
        Sensor->setText(f.caption);
        SN->setText(f.serial);
        SensorType = static_cast<TSensorType>(f.type);
        SensorROM[0] = f.word1;
        SensorROM[1] = f.word2;
    } else {
        QPalette p = Sensor->palette();
        p.setColor(QPalette::WindowText, QColor(0, 0, 255));
        Sensor->setPalette(p);
        QFont font = Sensor->font();
        font.setBold(true);
        Sensor->setFont(font);
        Sensor->setText(QStringLiteral("Датчик не обнаружен!"));
        SensorType = stUnknown;
    }
    Sensor->repaint();
    if (!m_abandoned)
        theClock().pauseDispatching(ShowResultMs);
    SensorFound = found;
    m_done = true;
    accept();
}

} // namespace kp33
