#include "testsupport.h"

#include "sensorbus/comport.h"
#include "sensorbus/globals.h"

#include <QFile>
#include <QtTest>
#include <algorithm>

namespace kp33::test {

FakeClock::FakeClock(QDateTime start, std::uint32_t startTick)
    : m_start(std::move(start)), m_startTick(startTick)
{
}

std::uint32_t FakeClock::tickCount()
{
    return static_cast<std::uint32_t>(m_startTick + m_elapsed.load());
}

void FakeClock::sleep(std::uint32_t ms)
{
    m_slept += ms;
    advance(ms);
}

QDateTime FakeClock::now() { return m_start.addMSecs(static_cast<qint64>(m_elapsed.load())); }

bool FakeClock::waitInput(const InputWait &wait, int timeoutMs)
{
    // Only silence moves fake time, so the real wait may be longer than the
    // time-out: an echo delayed by a busy machine (two cores, a sanitizer
    // build beside) is still heard, and a test never fails on scheduling.
    constexpr int Patience = 250;
    const int timeout = timeoutMs < 0 ? 0 : timeoutMs;
    const bool r = wait(timeout > 0 ? std::max(timeout, Patience) : 0);
    if (!r)
        advance(static_cast<std::uint64_t>(timeout));
    return r;
}

void FakeClock::pauseDispatching(std::uint32_t ms)
{
    m_slept += ms;
    advance(ms);
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
}

void FakeClock::advance(std::uint64_t ms) { m_elapsed += ms; }

ProgramFolder::ProgramFolder() { setProgramDir(m_dir.path()); }

QString ProgramFolder::path() const { return m_dir.path() + QLatin1Char('/'); }

UserFolders::UserFolders()
    : m_oldConfig(qgetenv("XDG_CONFIG_HOME")), m_oldData(qgetenv("XDG_DATA_HOME"))
{
    if (UserFoldersFollowXdg) {
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_xdgConfig.path()));
        qputenv("XDG_DATA_HOME", QFile::encodeName(m_xdgData.path()));
        m_settings = m_xdgConfig.path() + QStringLiteral("/KP33/");
        m_data = m_xdgData.path() + QStringLiteral("/KP33/");
    } else if (const QString base = LocalAppData(); !base.isEmpty()) {
        m_settings = m_data = base + QStringLiteral("/KP33/");
    }
    setProgramDir(m_program.path(), false);
}

UserFolders::~UserFolders()
{
    if (UserFoldersFollowXdg) {
        // Empty and unset mean the same to the XDG rules.
        qputenv("XDG_CONFIG_HOME", m_oldConfig);
        qputenv("XDG_DATA_HOME", m_oldData);
    }
    setProgramDir(m_program.path());
}

QString SensorSim::executable()
{
    const QByteArray env = qgetenv("KP33_SENSOR_SIM");
    return env.isEmpty() ? QStringLiteral("kp33-sensor-sim") : QString::fromLocal8Bit(env);
}

SensorSim::SensorSim(const QStringList &args)
{
    QStringList all = args;
    if (!all.contains(QStringLiteral("--trace"))) {
        m_trace = m_dir.filePath(QStringLiteral("trace.txt"));
        all << QStringLiteral("--trace") << m_trace;
    } else {
        m_trace = all.at(all.indexOf(QStringLiteral("--trace")) + 1);
    }
    m_proc.setProgram(executable());
    m_proc.setArguments(all);
    m_proc.setProcessChannelMode(QProcess::SeparateChannels);
    m_proc.start();
    if (!m_proc.waitForStarted(5000)) {
        qWarning("cannot start %s", qPrintable(executable()));
        return;
    }
    m_port = nextPortLine();
    if (!m_port.isEmpty())
        setPortPath(1, m_port.toStdString());
}

SensorSim::~SensorSim()
{
    if (m_proc.state() != QProcess::NotRunning) {
        m_proc.terminate();
        if (!m_proc.waitForFinished(3000)) {
            m_proc.kill();
            m_proc.waitForFinished(3000);
        }
    }
    CloseCOM();
    resetPortPaths();
}

QString SensorSim::nextPortLine(int timeoutMs)
{
    QElapsedTimer t;
    t.start();
    while (!m_proc.canReadLine()) {
        if (m_proc.state() == QProcess::NotRunning || t.elapsed() > timeoutMs)
            return {};
        m_proc.waitForReadyRead(100);
    }
    return QString::fromLocal8Bit(m_proc.readLine()).trimmed();
}

QStringList SensorSim::trace(const QString &prefix, int from) const
{
    QFile f(m_trace);
    if (!f.open(QIODevice::ReadOnly))
        return {};
    QStringList out;
    const auto lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    for (int i = from; i < lines.size(); ++i)
        if (prefix.isEmpty() || lines[i].startsWith(prefix))
            out << lines[i];
    return out;
}

QString SensorSim::errors() const
{
    return trace(QStringLiteral("ERROR")).join(QLatin1Char('\n'));
}

bool openPort()
{
    PurgeCOM();
    CloseCOM();
    if (!OpenCOM("COM1"))
        return false;
    SetCOMTo(-1, 0, 0, 0, 0);
    SetModCOM(9600, 8, 0, 2, 1, 0);
    return true;
}

} // namespace kp33::test
