// The built program in a folder of its own against the sensor simulator:
// what a user runs, measured from the outside (its data file, its settings,
// its exit status, its screen). Each test runs the program on an X server of
// its own, so a colour on the screen and a message box can be checked and
// answered the way a user would.

#include "support/testsupport.h"

#include <QScopeGuard>
#include <QtTest>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct Rgb {
    unsigned char r, g, b;
};
// The indicator's colours from the program's defaults.
constexpr Rgb ErrorLook{183, 183, 255}; // sensor error
constexpr Rgb NormalLook{196, 255, 196}; // a reading within the band

// Generous: the machine may be loaded, and only a wait that never ends is a fault.
constexpr int RowWaitMs = 30000;
constexpr int BoxWaitMs = 30000;

const QRegularExpression CompleteRow(QStringLiteral(R"(^\d\d:\d\d:\d\d,-?\d+\.\d,-?\d+\.\d,-?\d+\.\d\r$)"));

QByteArray temperatureOf(const QByteArray &row) { return row.split(',').value(1); }

// Runs a helper tool on the test's display; its standard output, empty when
// it failed or exited non-zero.
QByteArray runTool(const QString &display, const QString &program, const QStringList &args)
{
    QProcess tool;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("DISPLAY", display);
    env.remove("XAUTHORITY");
    tool.setProcessEnvironment(env);
    tool.setStandardErrorFile(QProcess::nullDevice());
    tool.start(program, args);
    if (!tool.waitForStarted(5000) || !tool.waitForFinished(15000)) {
        tool.kill();
        tool.waitForFinished(2000);
        return {};
    }
    if (tool.exitStatus() != QProcess::NormalExit || tool.exitCode() != 0)
        return {};
    return tool.readAllStandardOutput();
}

// The 22 keys the program writes, each with its default as the program saves it.
struct Key {
    const char *section;
    const char *name;
    const char *value; // nullptr: FileSave, which the program fills in
    bool temperature;
};
constexpr Key Keys[] = {
    {"GENERAL", "SignalUse", "1", false},     {"GENERAL", "ControlT", "1", false},
    {"GENERAL", "AutoScale", "1", false},     {"GENERAL", "AutoRun", "0", false},
    {"GENERAL", "PORT", "1", false},          {"COLORS", "TempColor", "33023", false},
    {"COLORS", "TempValueColor", "0", false}, {"COLORS", "NormalColor", "12910532", false},
    {"COLORS", "StopColor", "15191807", false}, {"COLORS", "ErrorColor", "16758711", false},
    {"COLORS", "LoTColor", "16755027", false}, {"COLORS", "HiTColor", "11757311", false},
    {"COLORS", "LPTColor", "16711680", false}, {"COLORS", "HPTColor", "255", false},
    {"LIMITS", "LoT", "-55", true},           {"LIMITS", "HiT", "125", true},
    {"LEVELS", "LoL", "-55", true},           {"LEVELS", "HiL", "125", true},
    {"DATA", "Save", "1", false},             {"DATA", "PeriodSave", "1", false},
    {"DATA", "FileType", "0", false},         {"DATA", "FileSave", nullptr, false},
};
static_assert(std::size(Keys) == 22);

// Settings as "SECTION/Key" -> value.
using Values = QMap<QString, QString>;

// The text of a KP33.ini holding the given values, COM1 mapped to port.
QByteArray iniText(const Values &given, const QString &port)
{
    QMap<QString, QStringList> sections;
    for (auto it = given.cbegin(); it != given.cend(); ++it)
        sections[it.key().section('/', 0, 0)] << it.key().section('/', 1) + '=' + it.value();
    sections["PORTS"] << "COM1=" + port;
    QByteArray text;
    for (auto it = sections.cbegin(); it != sections.cend(); ++it)
        text += ('[' + it.key() + "]\n" + it.value().join('\n') + '\n').toUtf8();
    return text;
}

// Splits a file into its lines by either line break, as a settings reader sees them.
QList<QByteArray> linesOf(const QByteArray &text)
{
    QList<QByteArray> lines;
    QByteArray current;
    for (char c : text) {
        if (c == '\n' || c == '\r') {
            if (!current.isEmpty())
                lines << current;
            current.clear();
        } else {
            current += c;
        }
    }
    if (!current.isEmpty())
        lines << current;
    return lines;
}

// Every occurrence of each key of the settings file, by "SECTION/key" folded to lower case.
QMap<QString, QStringList> parseIni(const QByteArray &ini)
{
    QMap<QString, QStringList> found;
    QString section;
    for (QByteArray line : linesOf(ini)) {
        line = line.trimmed();
        if (line.startsWith('[') && line.indexOf(']') > 0) {
            section = QString::fromUtf8(line.mid(1, line.indexOf(']') - 1)).trimmed().toLower();
            continue;
        }
        const qsizetype eq = line.indexOf('=');
        if (section.isEmpty() || eq <= 0 || line.startsWith(';'))
            continue;
        found[section + '/' + QString::fromUtf8(line.left(eq)).trimmed().toLower()]
            << QString::fromUtf8(line.mid(eq + 1)).trimmed();
    }
    return found;
}

// Empty when the file holds each of the 22 keys exactly once with the value
// given or its default; otherwise what is wrong. FileSave, unless given, must
// name a daily file in programDir/DATA.
QString settingsMismatch(const QByteArray &ini, const Values &given, const QString &programDir)
{
    const QMap<QString, QStringList> found = parseIni(ini);
    QStringList wrong;
    for (const Key &k : Keys) {
        const QString id = QStringLiteral("%1/%2").arg(k.section, k.name);
        const QStringList values = found.value(id.toLower());
        if (values.size() != 1) {
            wrong << QStringLiteral("%1 present %2 times").arg(id).arg(values.size());
            continue;
        }
        const QString got = values.first();
        if (!k.value && !given.contains(id)) {
            const QRegularExpression daily('^' + QRegularExpression::escape(programDir + "/DATA/") +
                                           R"(\d\d-\d\d-\d{4}\.csv$)");
            if (!daily.match(got).hasMatch())
                wrong << QStringLiteral("%1=%2, expected the daily file").arg(id, got);
            continue;
        }
        const QString want = given.value(id, QString::fromLatin1(k.value));
        bool same = got == want;
        if (k.temperature) {
            bool gotOk = false, wantOk = false;
            const double g = QString(got).replace(',', '.').toDouble(&gotOk);
            same = gotOk && g == want.toDouble(&wantOk) && wantOk;
        }
        if (!same)
            wrong << QStringLiteral("%1=%2, expected %3").arg(id, got, want);
    }
    return wrong.join("; ");
}

// Empty when every row is complete and holds one of the allowed temperatures.
QString badRows(const QList<QByteArray> &rows, const QList<QByteArray> &allowed)
{
    QStringList bad;
    for (const QByteArray &row : rows)
        if (!CompleteRow.match(QString::fromLatin1(row)).hasMatch() || !allowed.contains(temperatureOf(row)))
            bad << QString::fromLatin1(row).trimmed();
    return bad.join(" | ");
}

// An X server of the test's own.
class XServer {
public:
    ~XServer() { stop(); }
    bool start()
    {
        // A server that reported its display but takes no client is replaced
        // by a fresh one.
        for (int attempt = 0; attempt < 3; ++attempt) {
            if (startOnce() && !runTool(m_display, "xdotool", {"getdisplaygeometry"}).isEmpty())
                return true;
            stop();
            m_display.clear();
        }
        return false;
    }
    QString display() const { return m_display; }

private:
    bool startOnce()
    {
        m_proc.setStandardErrorFile(QProcess::nullDevice());
        // -displayfd: the server picks a free display itself, so servers of
        // tests side by side never collide. -noreset: by default a server
        // starts over when its last client leaves (a killed program, a helper
        // tool), and a program connecting meanwhile is refused or cut off.
        m_proc.start("Xvfb", {"-displayfd", "1", "-noreset", "-screen", "0", "800x600x24", "-nolisten", "tcp"});
        if (!m_proc.waitForStarted(5000))
            return false;
        QByteArray out;
        QDeadlineTimer deadline(15000);
        while (!out.contains('\n') && !deadline.hasExpired()) {
            if (m_proc.state() == QProcess::NotRunning)
                return false;
            m_proc.waitForReadyRead(200);
            out += m_proc.readAllStandardOutput();
        }
        bool ok = false;
        const int n = out.trimmed().toInt(&ok);
        if (!ok)
            return false;
        m_display = QStringLiteral(":%1").arg(n);
        return true;
    }
    void stop()
    {
        if (m_proc.state() != QProcess::NotRunning) {
            m_proc.terminate();
            if (!m_proc.waitForFinished(10000)) {
                m_proc.kill();
                m_proc.waitForFinished(5000);
            }
        }
    }

    QProcess m_proc;
    QString m_display;
};

struct Program {
    QTemporaryDir dir;
    QProcess proc;
    std::unique_ptr<QProcess> sim;
    XServer x;
    // The temperatures a row may hold; the simulator's and the error mark.
    QList<QByteArray> allowed;

    // The program's folder inside the test's folder (empty: the test's folder
    // itself), a command that starts it as another user (before its path),
    // and environment of the test's own over the usual.
    QString home;
    QStringList runAs;
    QMap<QString, QString> environment;

    // KP33_E2E_KEEP set: the folders stay behind for a look after a failure.
    Program() { dir.setAutoRemove(!qEnvironmentVariableIsSet("KP33_E2E_KEEP")); }
    QString programFile() const { return path(home.isEmpty() ? QStringLiteral("kp33") : home + "/kp33"); }
    QString path(const QString &name) const { return dir.filePath(name); }
    // As the program sees its own folder: symbolic links resolved.
    QString canonicalDir() const { return QFileInfo(dir.path()).canonicalFilePath(); }
    QString port() const { return path("sensor"); }

    bool startSim(const QStringList &args)
    {
        sim = std::make_unique<QProcess>();
        sim->setStandardOutputFile(QProcess::nullDevice());
        sim->start(kp33::test::SensorSim::executable(),
                   QStringList{"--link", port(), "--control", path("control"), "--trace", path("trace")} +
                       args);
        return sim->waitForStarted(5000) && QTest::qWaitFor([&] { return QFile::exists(port()); }, 5000);
    }
    void control(const QByteArray &line) const
    {
        QFile f(path("control"));
        if (f.open(QIODevice::WriteOnly))
            f.write(line + "\n");
    }
    // Trace lines of the simulator that start with prefix.
    int traced(const QByteArray &prefix) const
    {
        QFile f(path("trace"));
        int n = 0;
        if (f.open(QIODevice::ReadOnly))
            for (const QByteArray &l : f.readAll().split('\n'))
                n += l.startsWith(prefix);
        return n;
    }
    void writeIni(const QByteArray &text) const
    {
        QFile f(path("KP33.ini"));
        if (f.open(QIODevice::WriteOnly))
            f.write(text);
    }
    void writeIni(const Values &given) const { writeIni(iniText(given, port())); }
    QByteArray ini() const
    {
        QFile f(path("KP33.ini"));
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
    QString settingsMismatch(const Values &given) const
    {
        return ::settingsMismatch(ini(), given, canonicalDir());
    }

    bool start()
    {
        if (x.display().isEmpty() && !x.start())
            return false;
        const QString program = qEnvironmentVariable("KP33_PROGRAM");
        if (program.isEmpty() || (!QFile::exists(programFile()) && !QFile::copy(program, programFile())))
            return false;
        // Its own runtime, configuration and temporary folders: the
        // single-instance lock of another test or of the developer's own copy
        // never meets this one.
        for (const char *sub : {"rt", "config", "data", "tmp"})
            QDir(dir.path()).mkpath(sub);
        QFile::setPermissions(path("rt"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", path("rt"));
        env.insert("XDG_CONFIG_HOME", path("config"));
        env.insert("XDG_DATA_HOME", path("data"));
        env.insert("TMPDIR", path("tmp"));
        env.insert("DISPLAY", x.display());
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.remove("WAYLAND_DISPLAY");
        env.remove("XAUTHORITY");
        // Built with LeakSanitizer: Qt's D-Bus thread, which the X11 platform
        // starts, leaves a read buffer of the system's libdbus behind at exit.
        // That is not the program's leak; anything else still fails the close.
        QFile suppressions(path("lsan.supp"));
        if (suppressions.open(QIODevice::WriteOnly))
            suppressions.write("leak:libdbus-1.so\n");
        const QString lsan = env.value("LSAN_OPTIONS");
        const QString own = "suppressions=" + path("lsan.supp");
        env.insert("LSAN_OPTIONS", lsan.isEmpty() ? own : lsan + ':' + own);
        for (auto it = environment.cbegin(); it != environment.cend(); ++it)
            env.insert(it.key(), it.value());
        proc.setProcessEnvironment(env);
        // Its own log beside it, shown when a test fails.
        proc.setStandardOutputFile(path("kp33.log"), QIODevice::Append);
        proc.setStandardErrorFile(path("kp33.log"), QIODevice::Append);
        if (runAs.isEmpty())
            proc.start(programFile(), {});
        else
            proc.start(runAs.first(), runAs.mid(1) << programFile());
        return proc.waitForStarted(5000);
    }
    bool running() const { return proc.state() != QProcess::NotRunning; }

    QStringList dataFiles(const QString &folder = "DATA") const
    {
        QStringList out;
        for (const QString &f : QDir(path(folder)).entryList({"*.csv"}, QDir::Files, QDir::Name))
            out << path(folder + '/' + f);
        return out;
    }
    QByteArray data(const QString &folder = "DATA") const
    {
        QByteArray all;
        for (const QString &name : dataFiles(folder)) {
            QFile file(name);
            if (file.open(QIODevice::ReadOnly))
                all += file.readAll();
        }
        return all;
    }
    // The rows ended by LF, each with its CR. A row still being written is
    // not one yet; a file left without its last line end is caught by
    // checking that it ends in CR LF once the program has closed.
    QList<QByteArray> rows(const QString &folder = "DATA") const
    {
        QList<QByteArray> out;
        for (const QString &name : dataFiles(folder)) {
            QFile file(name);
            if (!file.open(QIODevice::ReadOnly))
                continue;
            QList<QByteArray> lines = file.readAll().split('\n');
            lines.removeLast(); // after the last LF
            for (const QByteArray &l : lines)
                out << l;
        }
        return out;
    }
    // Rows that are cut or hold a temperature not among `allowed`.
    QString bad() const { return badRows(rows(), allowed); }
    // Waits until cond holds; gives up early when the program has ended or a
    // wrong row has turned up.
    bool waitFor(const std::function<bool()> &cond, int ms = RowWaitMs)
    {
        (void)QTest::qWaitFor([&] { return cond() || !running() || !bad().isEmpty(); }, ms);
        return cond();
    }
    bool waitRows(qsizetype n) { return waitFor([&] { return rows().size() >= n; }); }
    bool lastRowIs(const QByteArray &t) const
    {
        const QList<QByteArray> r = rows();
        return !r.isEmpty() && temperatureOf(r.last()) == t;
    }

    // The whole screen as RGB triples.
    QByteArray screen() const
    {
        const QByteArray ppm = runTool(x.display(), "import",
                                       {"-display", x.display(), "-window", "root", "-depth", "8", "ppm:-"});
        // P6 <w> <h> 255, one whitespace, then the pixels.
        int fields = 0;
        qsizetype i = 0;
        while (i < ppm.size() && fields < 4) {
            while (i < ppm.size() && QChar::isSpace(ppm[i]))
                ++i;
            while (i < ppm.size() && !QChar::isSpace(ppm[i]))
                ++i;
            ++fields;
        }
        return fields == 4 && ppm.startsWith("P6") ? ppm.mid(i + 1) : QByteArray();
    }
    bool onScreen(Rgb colour) const
    {
        const QByteArray px = screen();
        const char rgb[3] = {char(colour.r), char(colour.g), char(colour.b)};
        for (qsizetype i = 0; i + 3 <= px.size(); i += 3)
            if (px[i] == rgb[0] && px[i + 1] == rgb[1] && px[i + 2] == rgb[2])
                return true;
        return false;
    }
    bool waitOnScreen(Rgb colour, bool present = true)
    {
        return waitFor([&] { return onScreen(colour) == present; });
    }

    // The program's visible windows whose name matches the pattern.
    QStringList windows(const QString &name) const
    {
        const QByteArray out = runTool(x.display(), "xdotool", {"search", "--onlyvisible", "--name", name});
        return QString::fromLatin1(out).split('\n', Qt::SkipEmptyParts);
    }
    QStringList errorBoxes() const { return windows("^Ошибка$"); }
    // Waits for a window of that name; its id, or empty.
    QString waitWindow(const QString &name)
    {
        QStringList found;
        waitFor([&] { return !(found = windows(name)).isEmpty(); }, BoxWaitMs);
        return found.value(0);
    }
    // Waits until the search at start has been and gone; the main window's id.
    QString waitSearchOver(const QString &mainWindow)
    {
        QString window;
        bool seen = false;
        waitFor([&] {
            const bool searching = !windows("^Инициализация датчика$").isEmpty();
            seen = seen || searching;
            window = seen && !searching ? windows(mainWindow).value(0) : QString();
            return !window.isEmpty();
        });
        return window;
    }
    // Keys to a window, as a user types them (focus first: with no window
    // manager the keys go where the focus is).
    void keys(const QString &window, const QStringList &keys) const
    {
        runTool(x.display(), "xdotool", {"windowfocus", "--sync", window});
        runTool(x.display(), "xdotool", QStringList{"key"} + keys);
    }
    // The top-level windows of the display by name, the topmost first.
    QStringList stacking() const
    {
        const QString out = QString::fromUtf8(runTool(x.display(), "xwininfo", {"-root", "-children"}));
        QStringList names;
        static const QRegularExpression named(QStringLiteral(R"re(^\s+0x[0-9a-f]+ "(.*)": )re"));
        for (const QString &line : out.split('\n'))
            if (const auto m = named.match(line); m.hasMatch())
                names << m.captured(1);
        return names;
    }
    // Waits for an error box and answers it with Return, as a user would;
    // true once it has gone.
    bool dismissErrorBox()
    {
        QStringList boxes;
        if (!waitFor([&] { return !(boxes = errorBoxes()).isEmpty(); }, BoxWaitMs))
            return false;
        const QString box = boxes.first();
        QDeadlineTimer deadline(BoxWaitMs);
        while (!deadline.hasExpired()) {
            // Focus first: with no window manager the keys go where the focus is.
            runTool(x.display(), "xdotool", {"windowfocus", box});
            runTool(x.display(), "xdotool", {"key", "Return"});
            if (QTest::qWaitFor([&] { return !errorBoxes().contains(box); }, 2000))
                return true;
        }
        return false;
    }

    bool terminate()
    {
        ::kill(static_cast<pid_t>(proc.processId()), SIGTERM);
        return proc.waitForFinished(20000);
    }
    bool closedNormally() const
    {
        return proc.state() == QProcess::NotRunning && proc.exitStatus() == QProcess::NormalExit &&
               proc.exitCode() == 0;
    }
    ~Program()
    {
        if (running()) {
            proc.kill();
            proc.waitForFinished(5000);
        }
        if (sim) {
            sim->terminate();
            sim->waitForFinished(3000);
        }
        if (QTest::currentTestFailed()) {
            QFile log(path("kp33.log"));
            if (log.open(QIODevice::ReadOnly))
                std::fprintf(stderr, "--- program log ---\n%s\n---\n", log.readAll().constData());
        }
    }
};

} // namespace

// A wait on the program: a wrong row that turned up meanwhile is named first.
#define WAIT_FOR(p, reached, what)                                                  \
    do {                                                                            \
        const bool reached_ = (reached);                                            \
        const QString bad_ = (p).bad();                                             \
        QVERIFY2(bad_.isEmpty(), qPrintable(QStringLiteral("wrong rows: ") + bad_)); \
        QVERIFY2(reached_, what);                                                   \
    } while (false)

class TestEndToEnd : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void measuresTheSimulatorAndSavesOnSigterm();
    void readsEverySecondThroughSlowAdapters_data();
    void readsEverySecondThroughSlowAdapters();
    void unpluggedSensorShowsErrorRowsAndRecovers();
    void crcErrorsNeverStoreAWrongTemperature();
    void lineHeldLowGivesErrorRowsNeverZero();
    void lostEchoesGiveTheTemperatureOrTheErrorMark();
    void vanishedPortKeepsTheProgramResponsive();
    void fullDeviceAsDataFileClosesInOrder();
    void dataFolderReplacedByAFileClosesInOrder();
    void garbageSettingsFileStartsOnDefaultsAndKeepsItsLines();
    void killedAtRandomMomentsLeavesOnlyCompleteRows();
    void sigtermClosesInOrderWhateverIsOnScreen_data();
    void sigtermClosesInOrderWhateverIsOnScreen();
    void secondStartKeepsAnOpenDialogInFront();
    void everyDialogAndATypoLeaveRecordingAndOtherFilesAlone();
    void readOnlyProgramFolderKeepsEverythingInTheUsersFolders();
};

void TestEndToEnd::initTestCase()
{
    for (const char *tool : {"Xvfb", "xdotool", "xwininfo", "import"})
        QVERIFY2(!QStandardPaths::findExecutable(tool).isEmpty(),
                 qPrintable(QStringLiteral("%1 not found; ./dev.sh test installs it").arg(tool)));
    QVERIFY2(!qEnvironmentVariable("KP33_PROGRAM").isEmpty(), "KP33_PROGRAM not set");
}

void TestEndToEnd::measuresTheSimulatorAndSavesOnSigterm()
{
    Program p;
    p.allowed = {"23.5"};
    QVERIFY(p.startSim({"--temp", "23.5", "--conversion", "instant"}));
    p.writeIni("; mine\n[GENERAL]\nAutoRun=1\n[PORTS]\nCOM1=" + p.port().toUtf8() + "\n");
    QVERIFY(p.start());
    WAIT_FOR(p, p.waitRows(3), "no rows recorded");
    for (const QByteArray &row : p.rows())
        QVERIFY2(row.endsWith(",23.5,-55.0,125.0\r"), row.constData());
    QVERIFY(p.terminate());
    QVERIFY(p.closedNormally());
    const QByteArray ini = p.ini();
    QVERIFY(ini.startsWith("; mine\n"));
    QVERIFY(ini.contains("[PORTS]\nCOM1=" + p.port().toUtf8()));
    QCOMPARE(ini.count('='), 22 + 1);
    QVERIFY(ini.contains("PORT=1\n"));
    const QString wrong = p.settingsMismatch({{"GENERAL/AutoRun", "1"}});
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(QFile::exists(p.path("config/KP33/Information.conf")));
    QVERIFY2(p.data().endsWith("\r\n"), "the last row is not complete");
}

// The adapter's echo latency, as USB-serial chips have it: 0 ms is a UART
// on the mainboard, 1 ms an FTDI chip in low-latency mode, 16 ms the default
// of most chips. Each run lasts KP33_E2E_ADAPTER_SECONDS from the first row
// (10 by default; `./dev.sh adapters` runs 60 s for every latency), with a
// second start of the program 3 s into it.
void TestEndToEnd::readsEverySecondThroughSlowAdapters_data()
{
    QTest::addColumn<int>("latency");
    QList<int> latencies{4, 16};
    if (const QString given = qEnvironmentVariable("KP33_E2E_ADAPTER_LATENCIES"); !given.isEmpty()) {
        latencies.clear();
        for (const QString &l : given.split(',', Qt::SkipEmptyParts))
            latencies << l.toInt();
    }
    for (int l : latencies)
        QTest::addRow("%d ms", l) << l;
}

void TestEndToEnd::readsEverySecondThroughSlowAdapters()
{
    QFETCH(int, latency);
    const int seconds = qEnvironmentVariableIntValue("KP33_E2E_ADAPTER_SECONDS") > 0
                            ? qEnvironmentVariableIntValue("KP33_E2E_ADAPTER_SECONDS")
                            : 10;
    Program p;
    p.allowed = {"23.5"};
    // Real conversion times, every character its wire time, echoes held back.
    QVERIFY(p.startSim({"--temp", "23.5", "--wire-time", "--latency-ms", QString::number(latency)}));
    const Values given{{"GENERAL/AutoRun", "1"}};
    p.writeIni(given);
    QVERIFY(p.start());
    WAIT_FOR(p, p.waitRows(1), "no rows recorded: the sensor was not found, or no reading came");
    QElapsedTimer span;
    span.start();
    const qsizetype first = p.rows().size();
    // Started again meanwhile, the program hides, restores and raises its
    // window: that costs the recording nothing.
    WAIT_FOR(p, p.waitFor([&] { return span.elapsed() >= 3000; }, 8000), "the program ended");
    QProcess second;
    second.setProcessEnvironment(p.proc.processEnvironment());
    second.start(p.path("kp33"), {});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    WAIT_FOR(p, p.waitFor([&] { return span.elapsed() >= seconds * 1000; }, seconds * 1000 + 5000),
             "the program ended");
    const QList<QByteArray> rows = p.rows();
    const qsizetype written = rows.size() - first;
    qInfo("%d ms echo latency: %lld rows in %d s", latency, static_cast<long long>(written), seconds);
    QVERIFY(p.terminate());
    QVERIFY(p.closedNormally());

    const QString bad = p.bad();
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    QVERIFY2(qAbs(written - seconds) <= 1,
             qPrintable(QStringLiteral("%1 rows in %2 s").arg(written).arg(seconds)));
    // One row a second, none skipped and none twice.
    for (qsizetype i = 1; i < rows.size(); ++i) {
        const QTime a = QTime::fromString(QString::fromLatin1(rows[i - 1].left(8)), "HH:mm:ss");
        const QTime b = QTime::fromString(QString::fromLatin1(rows[i].left(8)), "HH:mm:ss");
        QVERIFY2(a.isValid() && b.isValid() && (a.secsTo(b) + 86400) % 86400 == 1,
                 qPrintable(QStringLiteral("rows %1 and %2: %3 then %4")
                                .arg(i).arg(i + 1)
                                .arg(QString::fromLatin1(rows[i - 1].trimmed()),
                                     QString::fromLatin1(rows[i].trimmed()))));
    }
    const QString wrong = p.settingsMismatch(given);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void TestEndToEnd::unpluggedSensorShowsErrorRowsAndRecovers()
{
    Program p;
    p.allowed = {"21.0", "1000.0"};
    QVERIFY(p.startSim({"--temp", "21.0", "--conversion", "instant"}));
    // Values of its own, to see that the session's faults leave them alone.
    const Values given{{"GENERAL/AutoRun", "1"}, {"LEVELS/LoL", "-10"}, {"LEVELS/HiL", "60"},
                       {"LIMITS/LoT", "0"}, {"LIMITS/HiT", "50"}, {"COLORS/TempColor", "255"}};
    p.writeIni(given);
    QVERIFY(p.start());
    WAIT_FOR(p, p.waitRows(2), "no rows recorded");
    WAIT_FOR(p, p.waitOnScreen(NormalLook), "the reading is not shown in the normal colour");
    QVERIFY2(!p.onScreen(ErrorLook), "the error colour is on screen before any error");

    p.control("unplug");
    WAIT_FOR(p, p.waitOnScreen(ErrorLook), "no error look after the sensor was unplugged");
    // From the row of the cycle that raised the error on, the rows carry the mark.
    const qsizetype raised = p.rows().size();
    QVERIFY(raised > 0);
    WAIT_FOR(p, p.waitRows(raised + 2), "no rows after the error was raised");
    const QList<QByteArray> during = p.rows().mid(raised - 1);
    for (const QByteArray &row : during)
        QVERIFY2(row.endsWith(",1000.0,-10.0,60.0\r"), row.constData());

    p.control("plug");
    WAIT_FOR(p, p.waitFor([&] { return p.lastRowIs("21.0"); }), "no recovery in the data file");
    WAIT_FOR(p, p.waitOnScreen(ErrorLook, false), "the error look stays after the sensor came back");
    QVERIFY(p.onScreen(NormalLook));
    // No wrong value ever reached the file: a reading or the error mark.
    const QString bad = p.bad();
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    for (const QByteArray &row : p.rows())
        QVERIFY2(row.endsWith(",-10.0,60.0\r"), row.constData());

    QVERIFY(p.terminate());
    QVERIFY(p.closedNormally());
    const QString wrong = p.settingsMismatch(given);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void TestEndToEnd::crcErrorsNeverStoreAWrongTemperature()
{
    Program p;
    p.allowed = {"23.5", "1000.0"};
    QVERIFY(p.startSim(
        {"--temp", "23.5", "--conversion", "instant", "--crc-error-rate", "0.05", "--seed", "4711"}));
    const Values given{{"GENERAL/AutoRun", "1"}, {"GENERAL/SignalUse", "0"}};
    p.writeIni(given);
    QVERIFY(p.start());
    WAIT_FOR(p, p.waitFor([&] { return p.rows().size() >= 40; }, 120000), "40 rows did not come");
    const QString bad = p.bad();
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    // The faults did happen, and the retries hid most of them.
    QVERIFY2(p.traced("FAULT crc") >= 1, "the simulator flipped no bit");
    qsizetype good = 0;
    for (const QByteArray &row : p.rows())
        good += temperatureOf(row) == "23.5";
    QVERIFY2(good >= 30, qPrintable(QStringLiteral("only %1 readings of 40").arg(good)));

    QVERIFY(p.terminate());
    QVERIFY(p.closedNormally());
    const QString wrong = p.settingsMismatch(given);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void TestEndToEnd::lineHeldLowGivesErrorRowsNeverZero()
{
    Program p;
    p.allowed = {"19.5", "1000.0"};
    QVERIFY(p.startSim({"--temp", "19.5", "--conversion", "instant"}));
    const Values given{{"GENERAL/AutoRun", "1"}, {"GENERAL/ControlT", "0"}};
    p.writeIni(given);
    QVERIFY(p.start());
    WAIT_FOR(p, p.waitRows(2), "no rows recorded");

    p.control("fault line-low on");
    WAIT_FOR(p, p.waitFor([&] {
                 qsizetype n = 0;
                 for (const QByteArray &row : p.rows())
                     n += temperatureOf(row) == "1000.0";
                 return n >= 3;
             }), "no error rows while the line is held low");
    WAIT_FOR(p, p.waitOnScreen(ErrorLook), "no error look while the line is held low");

    p.control("fault line-low off");
    WAIT_FOR(p, p.waitFor([&] { return p.lastRowIs("19.5"); }), "no recovery after the line was let go");
    // A line held low reads as zeros with a matching CRC: never a reading of 0.
    const QString bad = p.bad();
    QVERIFY2(bad.isEmpty(), qPrintable(bad));

    QVERIFY(p.terminate());
    QVERIFY(p.closedNormally());
    const QString wrong = p.settingsMismatch(given);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void TestEndToEnd::lostEchoesGiveTheTemperatureOrTheErrorMark()
{
    Program p;
    p.allowed = {"22.5", "1000.0"};
    QVERIFY(p.startSim({"--temp", "22.5", "--conversion", "instant", "--seed", "2718"}));
    const Values given{{"GENERAL/AutoRun", "1"}, {"GENERAL/AutoScale", "0"}};
    p.writeIni(given);
    QVERIFY(p.start());
    // The losses begin once the session runs: a search that lost its echoes
    // would end in the demonstration question instead.
    WAIT_FOR(p, p.waitRows(1), "no rows recorded");
    p.control("fault lost 0.01");
    const qsizetype before = p.rows().size();
    WAIT_FOR(p, p.waitFor([&] { return p.rows().size() >= 20; }, 90000), "20 rows did not come");
    QVERIFY2(p.traced("FAULT lost-echo") >= 1, "the simulator lost no echo");
    const QString bad = p.bad();
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    // A lost echo costs a reading, never the session: readings go on.
    qsizetype readings = 0;
    for (const QByteArray &row : p.rows().mid(before))
        readings += temperatureOf(row) == "22.5";
    QVERIFY2(readings >= 3,
             qPrintable(QStringLiteral("%1 readings among the rows with losses").arg(readings)));

    QVERIFY(p.terminate());
    QVERIFY(p.closedNormally());
    const QString wrong = p.settingsMismatch(given);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void TestEndToEnd::vanishedPortKeepsTheProgramResponsive()
{
    Program p;
    p.allowed = {"24.0", "1000.0"};
    QVERIFY(p.startSim({"--temp", "24.0", "--conversion", "instant"}));
    const Values given{{"GENERAL/AutoRun", "1"}};
    p.writeIni(given);
    QVERIFY(p.start());
    WAIT_FOR(p, p.waitRows(2), "no rows recorded");

    p.control("vanish");
    WAIT_FOR(p, p.waitFor([&] { return !QFile::exists(p.port()); }), "the port did not go away");
    const qsizetype before = p.rows().size();
    // Still measuring: error rows keep coming, and the screen says so.
    WAIT_FOR(p, p.waitFor([&] {
                 const QList<QByteArray> r = p.rows();
                 return r.size() >= before + 3 && temperatureOf(r.last()) == "1000.0" &&
                        temperatureOf(r[r.size() - 2]) == "1000.0";
             }), "no error rows after the port went away");
    WAIT_FOR(p, p.waitOnScreen(ErrorLook), "no error look after the port went away");
    const QString bad = p.bad();
    QVERIFY2(bad.isEmpty(), qPrintable(bad));

    QElapsedTimer closing;
    closing.start();
    QVERIFY(p.terminate());
    QVERIFY2(closing.elapsed() < 5000,
             qPrintable(QStringLiteral("closing took %1 ms").arg(closing.elapsed())));
    QVERIFY(p.closedNormally());
    const QString wrong = p.settingsMismatch(given);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void TestEndToEnd::fullDeviceAsDataFileClosesInOrder()
{
    Program p;
    QVERIFY(p.startSim({"--temp", "25.0", "--conversion", "instant"}));
    const Values given{{"GENERAL/AutoRun", "1"}, {"DATA/FileType", "1"}, {"DATA/FileSave", "/dev/full"}};
    p.writeIni(given);
    QVERIFY(p.start());

    QVERIFY2(p.dismissErrorBox(), "no error box for the full device");
    // The program closes by itself, in order.
    QVERIFY2(p.proc.waitForFinished(20000), "the program did not close after the error");
    QVERIFY(p.closedNormally());
    const QString wrong = p.settingsMismatch(given);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void TestEndToEnd::dataFolderReplacedByAFileClosesInOrder()
{
    Program p;
    p.allowed = {"20.5"};
    QVERIFY(p.startSim({"--temp", "20.5", "--conversion", "instant"}));
    const Values given{{"GENERAL/AutoRun", "1"}};
    p.writeIni(given);
    QVERIFY(p.start());
    WAIT_FOR(p, p.waitRows(3), "no rows recorded");

    // DATA becomes a regular file in one step, so the program cannot make the
    // folder anew in between; the folder itself lives on as DATA.old.
    QFile blocker(p.path("DATA.swap"));
    QVERIFY(blocker.open(QIODevice::WriteOnly));
    blocker.write("not a folder\n");
    blocker.close();
    const QByteArray before = p.data();
    QVERIFY2(::renameat2(AT_FDCWD, QFile::encodeName(p.path("DATA.swap")).constData(), AT_FDCWD,
                         QFile::encodeName(p.path("DATA")).constData(), RENAME_EXCHANGE) == 0,
             std::strerror(errno));
    QVERIFY(QFile::rename(p.path("DATA.swap"), p.path("DATA.old")));
    QVERIFY(p.data("DATA.old").startsWith(before));

    // The folder cannot be made, then the file cannot be opened: two messages.
    QVERIFY2(p.dismissErrorBox(), "no first error box");
    QVERIFY2(p.dismissErrorBox(), "no second error box");
    QVERIFY2(p.proc.waitForFinished(20000), "the program did not close after the errors");
    QVERIFY(p.closedNormally());

    // Every row written before is still there, each one whole.
    const QByteArray kept = p.data("DATA.old");
    QVERIFY(kept.startsWith(before));
    QVERIFY(kept.endsWith("\r\n"));
    const QString bad = badRows(p.rows("DATA.old"), {"20.5"});
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    QFile file(p.path("DATA"));
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(file.readAll(), QByteArray("not a folder\n"));
    const QString wrong = p.settingsMismatch(given);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

void TestEndToEnd::garbageSettingsFileStartsOnDefaultsAndKeepsItsLines()
{
    Program p;
    p.allowed = {"22.0"};
    QVERIFY(p.startSim({"--temp", "22.0", "--conversion", "instant"}));
    QRandomGenerator rng(9001);
    QByteArray garbage(8192, Qt::Uninitialized);
    for (char &c : garbage)
        c = static_cast<char>(rng.bounded(256));
    // Appended so the program can measure at all: a port to measure on and
    // AutoRun to begin without a click. Everything else must come from the
    // defaults.
    const Values given{{"GENERAL/AutoRun", "1"}};
    p.writeIni(garbage + "\n" + iniText(given, p.port()));
    QVERIFY(p.start());
    WAIT_FOR(p, p.waitRows(2), "no rows recorded");
    const QString bad = p.bad();
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    for (const QByteArray &row : p.rows())
        QVERIFY2(row.endsWith(",-55.0,125.0\r"), row.constData());

    QVERIFY(p.terminate());
    QVERIFY(p.closedNormally());
    const QByteArray saved = p.ini();
    const QString wrong = p.settingsMismatch(given);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    // Every line of the garbage is still there, in order.
    const QList<QByteArray> original = linesOf(garbage);
    const QList<QByteArray> now = linesOf(saved);
    qsizetype at = 0;
    for (const QByteArray &line : now)
        if (at < original.size() && line == original[at])
            ++at;
    QVERIFY2(at == original.size(),
             qPrintable(QStringLiteral("garbage line %1 of %2 lost").arg(at + 1).arg(original.size())));
    // Nothing was added in between or changed either: the keys went below.
    QVERIFY(saved.startsWith(garbage));
}

void TestEndToEnd::killedAtRandomMomentsLeavesOnlyCompleteRows()
{
    Program p;
    p.allowed = {"-3.5"};
    QVERIFY(p.startSim({"--temp", "-3.5", "--conversion", "instant"}));
    const Values given{{"GENERAL/AutoRun", "1"}, {"LEVELS/LoL", "-20"}};
    p.writeIni(given);
    QRandomGenerator rng(31337);
    for (int session = 0; session < 20; ++session) {
        const qsizetype before = p.rows().size();
        QVERIFY(p.start());
        // Odd sessions are killed while they measure, even ones wherever they
        // happen to be (starting, searching, measuring).
        if (session % 2 == 1)
            WAIT_FOR(p, p.waitRows(before + 1),
                     qPrintable(QStringLiteral("session %1 recorded nothing (a stale lock?)").arg(session)));
        QTest::qWait(static_cast<int>(rng.bounded(300, 3001)));
        QVERIFY2(p.running(), qPrintable(QStringLiteral("session %1 ended by itself").arg(session)));
        p.proc.kill();
        QVERIFY(p.proc.waitForFinished(5000));
        QCOMPARE(p.proc.exitStatus(), QProcess::CrashExit);
    }
    // The last one starts after all those kills and closes normally.
    const qsizetype before = p.rows().size();
    QVERIFY(p.start());
    WAIT_FOR(p, p.waitRows(before + 2), "no rows after the kills (a stale lock?)");
    QVERIFY(p.terminate());
    QVERIFY(p.closedNormally());

    QVERIFY(p.rows().size() >= 12);
    const QString bad = p.bad();
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
    QVERIFY2(p.data().endsWith("\r\n"), "the last row is not complete");
    const QString wrong = p.settingsMismatch(given);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
}

// A logout sends SIGTERM whatever is on screen, and the session manager's
// SIGKILL follows a few seconds later: the program must be gone by then,
// with the settings saved. Each row brings something modal up first.
enum class OnScreen { Search, DemoQuestion, PortBox, RecordingDialog, ColourDialog };
Q_DECLARE_METATYPE(OnScreen)

void TestEndToEnd::sigtermClosesInOrderWhateverIsOnScreen_data()
{
    QTest::addColumn<OnScreen>("onScreen");
    QTest::newRow("the first search") << OnScreen::Search;
    QTest::newRow("the demonstration question") << OnScreen::DemoQuestion;
    QTest::newRow("Порт COM1 недоступен!") << OnScreen::PortBox;
    QTest::newRow("the recording dialog") << OnScreen::RecordingDialog;
    QTest::newRow("the colour dialog") << OnScreen::ColourDialog;
}

void TestEndToEnd::sigtermClosesInOrderWhateverIsOnScreen()
{
    QFETCH(OnScreen, onScreen);
    Program p;
    p.allowed = {"23.5", "1000.0"};
    const bool noSensor = onScreen == OnScreen::Search || onScreen == OnScreen::DemoQuestion;
    // Without a simulator COM1 names a port that is not there.
    if (onScreen != OnScreen::PortBox)
        QVERIFY(p.startSim(noSensor ? QStringList{"--no-device"} : QStringList{"--temp", "23.5"}));
    // Values of its own, to see that they are the ones saved.
    const Values given{{"GENERAL/AutoRun", onScreen == OnScreen::ColourDialog ? "0" : "1"},
                       {"GENERAL/SignalUse", "0"},      {"LEVELS/LoL", "-10"},
                       {"LEVELS/HiL", "60"},            {"LIMITS/LoT", "0"},
                       {"LIMITS/HiT", "50"},            {"COLORS/TempColor", "255"},
                       {"DATA/PeriodSave", "4"}};
    p.writeIni(given);
    QVERIFY(p.start());
    const QString mainWindow = "^(Термометр KP33|t = .*)$";

    switch (onScreen) {
    case OnScreen::Search:
        QVERIFY2(!p.waitWindow("^Инициализация датчика$").isEmpty(), "no search dialog");
        break;
    case OnScreen::DemoQuestion:
        QVERIFY2(!p.waitWindow("^Вопрос$").isEmpty(), "no demonstration question");
        break;
    case OnScreen::PortBox:
        QVERIFY2(!p.waitWindow("^Ошибка$").isEmpty(), "no box for the missing port");
        break;
    case OnScreen::RecordingDialog: {
        WAIT_FOR(p, p.waitRows(1), "no rows recorded");
        // Настройки → Запись данных..., by the menus' letters.
        p.keys(p.waitWindow(mainWindow), {"alt+Cyrillic_en", "Cyrillic_ze"});
        QVERIFY2(!p.waitWindow("^Параметры записи данных$").isEmpty(), "no recording dialog");
        break;
    }
    case OnScreen::ColourDialog: {
        const QString window = p.waitSearchOver(mainWindow);
        QVERIFY2(!window.isEmpty(), "the search did not end");
        p.keys(window, {"F4"});
        const QString params = p.waitWindow("^Параметры датчика$");
        QVERIFY2(!params.isEmpty(), "no sensor parameters dialog");
        const qsizetype before = p.stacking().size();
        // A double click on the first colour swatch (the temperature curve's).
        runTool(p.x.display(), "xdotool",
                {"mousemove", "--window", params, "36", "44", "click", "--repeat", "2", "--delay", "80", "1"});
        WAIT_FOR(p, p.waitFor([&] { return p.stacking().size() > before; }), "no colour dialog");
        break;
    }
    }

    QElapsedTimer closing;
    closing.start();
    ::kill(static_cast<pid_t>(p.proc.processId()), SIGTERM);
    QVERIFY2(p.proc.waitForFinished(5000),
             "still running 5 s after SIGTERM (a session manager would kill it now)");
    qInfo("closed %lld ms after SIGTERM", static_cast<long long>(closing.elapsed()));
    QVERIFY(p.closedNormally());
    const QString wrong = p.settingsMismatch(given);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    QVERIFY(QFile::exists(p.path("config/KP33/Information.conf")));
    const QString bad = p.bad();
    QVERIFY2(bad.isEmpty(), qPrintable(bad));
}

// Started again while a dialog is open, the program brings its window
// forward and the dialog with it: behind the window, nobody could answer it.
void TestEndToEnd::secondStartKeepsAnOpenDialogInFront()
{
    Program p;
    QVERIFY(p.startSim({"--temp", "23.5"}));
    p.writeIni(Values{});
    QVERIFY(p.start());
    const QString mainWindow = "^Термометр KP33$";
    const QString window = p.waitSearchOver(mainWindow);
    QVERIFY2(!window.isEmpty(), "the search did not end");
    p.keys(window, {"F4"});
    QVERIFY2(!p.waitWindow("^Параметры датчика$").isEmpty(), "no sensor parameters dialog");

    // The second start shares the first one's environment, and so finds it.
    QProcess second;
    second.setProcessEnvironment(p.proc.processEnvironment());
    second.start(p.path("kp33"), {});
    QVERIFY(second.waitForFinished(10000));
    QCOMPARE(second.exitStatus(), QProcess::NormalExit);
    QCOMPARE(second.exitCode(), 0);
    const auto inFront = [&] {
        const QStringList order = p.stacking();
        const qsizetype dialog = order.indexOf("Параметры датчика");
        const qsizetype window = order.indexOf("Термометр KP33");
        return dialog >= 0 && window >= 0 && dialog < window;
    };
    // The window has been brought forward once the request is served.
    QTest::qWait(1000);
    QVERIFY2(inFront(), qPrintable("stacking, topmost first: " + p.stacking().join(" | ")));

    QVERIFY(p.terminate());
    QVERIFY(p.closedNormally());
}

void TestEndToEnd::everyDialogAndATypoLeaveRecordingAndOtherFilesAlone()
{
    Program p;
    p.allowed = {"23.5"};
    QVERIFY(p.startSim({"--temp", "23.5", "--conversion", "instant"}));
    const Values given{{"GENERAL/AutoRun", "1"}};
    p.writeIni(given);
    QVERIFY(p.start());
    WAIT_FOR(p, p.waitRows(2), "no rows recorded");

    // The user's hands: the mouse at a place of a window, keys to a window.
    const auto xdotool = [&](const QStringList &args) { return runTool(p.x.display(), "xdotool", args); };
    const auto programWindows = [&] {
        return QString::fromLatin1(xdotool({"search", "--onlyvisible", "--class", "kp33"})).split('\n', Qt::SkipEmptyParts);
    };
    const auto window = [&](const QString &title) { return p.waitWindow('^' + title + '$'); };
    const auto closed = [&](const QString &title) {
        return p.waitFor([&] { return p.windows('^' + title + '$').isEmpty(); }, BoxWaitMs);
    };
    const auto click = [&](const QString &win, int x, int y, const QString &button = "1") {
        xdotool({"mousemove", "--window", win, QString::number(x), QString::number(y), "click", button});
    };
    const auto keys = [&](const QString &win, const QStringList &k) { p.keys(win, k); };
    // A menu or context menu is open once the program shows one window more.
    const auto menuOpen = [&](qsizetype before) {
        return p.waitFor([&] { return programWindows().size() > before; }, BoxWaitMs);
    };

    // Measuring, only the main window is up.
    const QStringList windows = programWindows();
    QCOMPARE(windows.size(), 1);
    const QString main = windows.first();

    // Settings, then "Запись данных..." (window coordinates: the layout is fixed).
    click(main, 100, 8);
    QVERIFY2(menuOpen(1), "the settings menu did not open");
    click(main, 141, 68);
    const QString recording = window("Параметры записи данных");
    QVERIFY2(!recording.isEmpty(), "no recording dialog");
    // A file chosen by hand, with a typing slip in its folder, and OK.
    click(recording, 22, 120);
    click(recording, 114, 178);
    xdotool({"key", "ctrl+a"});
    xdotool({"type", p.path("nodir/x.csv")});
    click(recording, 80, 224);
    QVERIFY2(p.dismissErrorBox(), "no error box for the file that cannot be opened");
    // The program goes on, the dialog stays open, and the rows still go to
    // the file in use.
    const qsizetype before = p.rows().size();
    const bool rowsCame = p.waitRows(before + 2);
    QVERIFY2(p.running(), "the program ended over a name typed in a dialog");
    WAIT_FOR(p, rowsCame, "no rows after the refused file");
    QVERIFY(p.windows("^Параметры записи данных$").contains(recording));
    QVERIFY(!QFileInfo::exists(p.path("nodir")));
    // The browse button's file dialog, cancelled; then the recording dialog.
    click(recording, 216, 178);
    const QString browse = window("Выбор файла");
    QVERIFY2(!browse.isEmpty(), "no file dialog");
    keys(browse, {"Escape"});
    QVERIFY(closed("Выбор файла"));
    keys(recording, {"Escape"});
    QVERIFY(closed("Параметры записи данных"));

    // F4: the sensor parameters; a double click on the curve's swatch opens
    // the colour dialog, where the user adds a custom colour, then cancels.
    keys(main, {"F4"});
    const QString params = window("Параметры датчика");
    QVERIFY2(!params.isEmpty(), "no sensor parameters dialog");
    xdotool({"mousemove", "--window", params, "36", "44", "click", "--repeat", "2", "--delay", "80", "1"});
    const QString colours = window("Выбор цвета");
    QVERIFY2(!colours.isEmpty(), "no colour dialog");
    click(colours, 122, 347); // "Добавить к пользовательским цветам"
    keys(colours, {"Escape"});
    QVERIFY(closed("Выбор цвета"));
    keys(params, {"Return"});
    QVERIFY(closed("Параметры датчика"));

    // The about box from the context menu, and the help.
    click(main, 104, 330, "3");
    QVERIFY2(menuOpen(1), "no context menu");
    xdotool({"key", "Up", "Return"}); // its last item, "О программе..."
    const QString about = window("О программе");
    QVERIFY2(!about.isEmpty(), "no about box");
    keys(about, {"Return"});
    QVERIFY(closed("О программе"));
    keys(main, {"F1"});
    const QString help = window("Справка");
    QVERIFY2(!help.isEmpty(), "no help");
    keys(help, {"Escape"});
    QVERIFY(closed("Справка"));

    const qsizetype later = p.rows().size();
    WAIT_FOR(p, p.waitRows(later + 1), "no rows after the dialogs");
    QVERIFY(p.terminate());
    QVERIFY(p.closedNormally());
    const QString wrong = p.settingsMismatch(given);
    QVERIFY2(wrong.isEmpty(), qPrintable(wrong));
    const QString bad = p.bad();
    QVERIFY2(bad.isEmpty(), qPrintable(bad));

    // Of the folders the program was given besides its own, only its
    // information record holds a file now: a folder it may write keeps
    // settings and data beside the program.
    QStringList outside;
    for (const char *folder : {"config", "data", "tmp", "rt"}) {
        QDirIterator it(p.path(folder), QDir::Files | QDir::Hidden | QDir::System, QDirIterator::Subdirectories);
        while (it.hasNext())
            outside << QDir(p.dir.path()).relativeFilePath(it.next());
    }
    QCOMPARE(outside, QStringList{"config/KP33/Information.conf"});
}

// Installed for every user (under /usr, in C:\Program Files), the program
// runs from a folder its user cannot write. Settings and rows then go to the
// user's own folders, the program folder's KP33.ini is where the settings
// start, and nothing is written beside the program. As root every folder can
// be written, so the program runs as an unprivileged user.
void TestEndToEnd::readOnlyProgramFolderKeepsEverythingInTheUsersFolders()
{
    Program p;
    p.allowed = {"23.5"};
    p.home = "prog";
    const bool root = ::geteuid() == 0;
    constexpr uid_t Nobody = 65534;
    const uid_t user = root ? Nobody : ::geteuid();
    if (root) {
        const QString setpriv = QStandardPaths::findExecutable("setpriv");
        if (setpriv.isEmpty())
            QSKIP("running as root without setpriv (util-linux): no unprivileged user to start the program as");
        p.runAs = {setpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"};
    }
    const auto owned = [&](const QString &folder) {
        return QDir().mkpath(p.path(folder)) &&
               (!root || ::chown(QFile::encodeName(p.path(folder)).constData(), user, user) == 0);
    };
    // The test's folder is its own (0700); the other user must reach into it.
    QVERIFY(QFile::setPermissions(p.dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                                    QFileDevice::ExeOwner | QFileDevice::ReadOther |
                                                    QFileDevice::ExeOther | QFileDevice::ReadGroup |
                                                    QFileDevice::ExeGroup));
    QVERIFY(owned("user"));
    const std::pair<const char *, const char *> folders[] = {
        {"HOME", "home"},           {"XDG_CONFIG_HOME", "config"}, {"XDG_DATA_HOME", "data"},
        {"XDG_CACHE_HOME", "cache"}, {"XDG_RUNTIME_DIR", "rt"},     {"TMPDIR", "tmp"},
    };
    for (const auto &[variable, folder] : folders) {
        const QString where = QStringLiteral("user/") + folder;
        QVERIFY2(owned(where), folder);
        p.environment.insert(variable, p.path(where));
    }
    QVERIFY(QFile::setPermissions(p.path("user/rt"),
                                  QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));

    QVERIFY(p.startSim({"--temp", "23.5", "--conversion", "instant"}));
    // The simulator's terminal is its own (root's) until handed over.
    const QString terminal = QFileInfo(p.port()).symLinkTarget();
    QVERIFY(!terminal.isEmpty());
    if (root)
        QVERIFY(::chown(QFile::encodeName(terminal).constData(), user, user) == 0);

    // The folder as an administrator leaves it: the program and a KP33.ini
    // prepared for every user.
    QVERIFY(QDir().mkpath(p.path("prog")));
    const QByteArray shipped = "; prepared for every user\n" + iniText({{"GENERAL/AutoRun", "1"}, {"LEVELS/LoL", "-10"}}, p.port());
    {
        QFile f(p.path("prog/KP33.ini"));
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(shipped) == shipped.size());
    }
    QVERIFY(QFile::copy(qEnvironmentVariable("KP33_PROGRAM"), p.programFile()));
    const auto listing = [&] {
        return QDir(p.path("prog")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    };
    const QStringList before = listing();
    const QFileDevice::Permissions folderMode = QFile::permissions(p.path("prog"));
    if (!root)
        QVERIFY(QFile::setPermissions(p.path("prog"), QFileDevice::ReadOwner | QFileDevice::ExeOwner));
    // Left writable again for the test's own clean-up.
    const auto restore = qScopeGuard([&] { QFile::setPermissions(p.path("prog"), folderMode); });

    // Tried as that user, as the program will: no folder of the test's
    // chain may stand in its way, and the program folder must refuse it.
    const auto asUser = [&](const QStringList &command) {
        QProcess tool;
        tool.setProcessEnvironment(QProcessEnvironment::systemEnvironment());
        const QStringList all = p.runAs + command;
        tool.start(all.first(), all.mid(1));
        return tool.waitForFinished(10000) && tool.exitStatus() == QProcess::NormalExit && tool.exitCode() == 0;
    };
    if (!asUser({"test", "-x", p.programFile()}))
        QSKIP(qPrintable(QStringLiteral("user %1 cannot reach %2").arg(user).arg(p.programFile())));
    if (asUser({"touch", p.path("prog/probe")})) {
        QFile::remove(p.path("prog/probe"));
        QSKIP(qPrintable(QStringLiteral("user %1 can write %2 after all").arg(user).arg(p.path("prog"))));
    }

    QVERIFY(p.start());
    const QString data = "user/data/KP33/DATA";
    const auto wrong = [&] { return badRows(p.rows(data), p.allowed); };
    QVERIFY2(p.waitFor([&] { return p.rows(data).size() >= 3 || !wrong().isEmpty(); }) && wrong().isEmpty(),
             qPrintable("no rows in the user's data folder " + wrong()));
    // The band the program folder's file gave is the one in force.
    for (const QByteArray &row : p.rows(data))
        QVERIFY2(row.endsWith(",23.5,-10.0,125.0\r"), row.constData());
    QVERIFY(p.terminate());
    QVERIFY(p.closedNormally());

    QFile ini(p.path("user/config/KP33/KP33.ini"));
    QVERIFY2(ini.open(QIODevice::ReadOnly), "no KP33.ini in the user's configuration folder");
    const QByteArray saved = ini.readAll();
    QVERIFY2(saved.startsWith("; prepared for every user\n"), saved.constData());
    QVERIFY(saved.contains("[PORTS]\nCOM1=" + p.port().toUtf8() + '\n'));
    const QString mismatch = settingsMismatch(saved, {{"GENERAL/AutoRun", "1"}, {"LEVELS/LoL", "-10"}},
                                              p.path("user/data/KP33"));
    QVERIFY2(mismatch.isEmpty(), qPrintable(mismatch));
    QVERIFY(QFile::exists(p.path("user/config/KP33/Information.conf")));
    QVERIFY2(QByteArray(p.data(data)).endsWith("\r\n"), "the last row is not complete");

    // Beside the program, everything as the administrator left it.
    QCOMPARE(listing(), before);
    QFile left(p.path("prog/KP33.ini"));
    QVERIFY(left.open(QIODevice::ReadOnly));
    QCOMPARE(left.readAll(), shipped);
}

QTEST_GUILESS_MAIN(TestEndToEnd)
#include "tst_e2e.moc"
