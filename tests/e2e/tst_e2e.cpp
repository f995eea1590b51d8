// The built program in a folder of its own against the sensor simulator:
// what a user runs, measured from the outside (its data file, its settings,
// its exit status).

#include "support/testsupport.h"

#include <QtTest>
#include <csignal>

namespace {

struct Program {
    QTemporaryDir dir;
    QProcess proc;
    std::unique_ptr<QProcess> sim;

    QString path(const QString &name) const { return dir.filePath(name); }

    bool startSim(const QStringList &args)
    {
        sim = std::make_unique<QProcess>();
        sim->start(kp33::test::SensorSim::executable(),
                   QStringList{"--link", path("sensor"), "--control", path("control")} + args);
        return sim->waitForStarted(5000) && QTest::qWaitFor([&] { return QFile::exists(path("sensor")); }, 5000);
    }
    void control(const QByteArray &line) const
    {
        QFile f(path("control"));
        if (f.open(QIODevice::WriteOnly))
            f.write(line + "\n");
    }
    void writeIni(const QByteArray &text) const
    {
        QFile f(path("KP33.ini"));
        if (f.open(QIODevice::WriteOnly))
            f.write(text);
    }
    QByteArray ini() const
    {
        QFile f(path("KP33.ini"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    bool start()
    {
        const QString program = qEnvironmentVariable("KP33_PROGRAM");
        if (program.isEmpty() || !QFile::copy(program, path("kp33")))
            return false;
        // Its own runtime folder: the single-instance lock of another test or
        // of the developer's own copy never meets this one.
        QDir(dir.path()).mkdir("rt");
        QFile::setPermissions(path("rt"), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", path("rt"));
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        proc.setProcessEnvironment(env);
        proc.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        proc.start(path("kp33"), {});
        return proc.waitForStarted(5000);
    }
    QList<QByteArray> rows() const
    {
        QList<QByteArray> out;
        const QStringList files = QDir(path("DATA")).entryList({"*.csv"}, QDir::Files, QDir::Name);
        for (const QString &f : files) {
            QFile file(path("DATA/" + f));
            if (file.open(QIODevice::ReadOnly))
                for (const QByteArray &l : file.readAll().split('\n'))
                    if (!l.isEmpty())
                        out << l;
        }
        return out;
    }
    bool terminate()
    {
        ::kill(static_cast<pid_t>(proc.processId()), SIGTERM);
        return proc.waitForFinished(20000);
    }
    ~Program()
    {
        if (proc.state() != QProcess::NotRunning) {
            proc.kill();
            proc.waitForFinished(5000);
        }
        if (sim) {
            sim->terminate();
            sim->waitForFinished(3000);
        }
    }
};

} // namespace

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void measuresTheSimulatorAndSavesOnSigterm();
    void unpluggedSensorShowsErrorRowsAndRecovers();
};

void TestEndToEnd::measuresTheSimulatorAndSavesOnSigterm()
{
    Program p;
    QVERIFY(p.startSim({"--temp", "23.5"}));
    p.writeIni("; mine\n[GENERAL]\nAutoRun=1\n[PORTS]\nCOM1=" + p.path("sensor").toUtf8() + "\n");
    QVERIFY(p.start());
    QVERIFY2(QTest::qWaitFor([&] { return p.rows().size() >= 3; }, 30000), "no rows recorded");
    for (const QByteArray &row : p.rows())
        QVERIFY2(row.endsWith(",23.5,-55.0,125.0\r"), row.constData());
    QVERIFY(p.terminate());
    QCOMPARE(p.proc.exitStatus(), QProcess::NormalExit);
    QCOMPARE(p.proc.exitCode(), 0);
    const QByteArray ini = p.ini();
    QVERIFY(ini.startsWith("; mine\n"));
    QVERIFY(ini.contains("[PORTS]\nCOM1=" + p.path("sensor").toUtf8()));
    QCOMPARE(ini.count('='), 22 + 1);
    QVERIFY(ini.contains("PORT=1\n"));
    QVERIFY(QFile::exists(p.path("config/KP33/Information.conf")));
}

void TestEndToEnd::unpluggedSensorShowsErrorRowsAndRecovers()
{
    Program p;
    QVERIFY(p.startSim({"--temp", "21.0"}));
    p.writeIni("[GENERAL]\nAutoRun=1\n[PORTS]\nCOM1=" + p.path("sensor").toUtf8() + "\n");
    QVERIFY(p.start());
    QVERIFY(QTest::qWaitFor([&] { return p.rows().size() >= 2; }, 30000));
    p.control("unplug");
    QVERIFY(QTest::qWaitFor([&] { return p.rows().last().contains(",1000.0,"); }, 30000));
    p.control("plug");
    QVERIFY(QTest::qWaitFor([&] { return p.rows().last().endsWith(",21.0,-55.0,125.0\r"); }, 30000));
    // No wrong value ever reached the file: a reading or the error mark.
    for (const QByteArray &row : p.rows())
        QVERIFY2(row.contains(",21.0,") || row.contains(",1000.0,"), row.constData());
    QVERIFY(p.terminate());
    QCOMPARE(p.proc.exitCode(), 0);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
