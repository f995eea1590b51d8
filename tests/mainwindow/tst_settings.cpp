// KP33.ini as the program reads and writes it, and the information record.

#include "dialogs/sharedsettings.h"
#include "mainwindow/profilefile.h"
#include "mainwindow/settings.h"
#include "measurement/history.h"
#include "measurement/recording.h"
#include "sensorbus/comport.h"
#include "sensorbus/globals.h"
#include "support/testsupport.h"

#include <QDir>
#include <QLocale>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QtTest>
#include <unistd.h>

using namespace kp33;

namespace {

const QByteArray FreshFile = "[GENERAL]\nSignalUse=1\nControlT=1\nAutoScale=1\nAutoRun=0\nPORT=1\n"
                             "[COLORS]\nTempColor=33023\nTempValueColor=0\nNormalColor=12910532\n"
                             "StopColor=15191807\nErrorColor=16758711\nLoTColor=16755027\n"
                             "HiTColor=11757311\nLPTColor=16711680\nHPTColor=255\n"
                             "[LIMITS]\nLoT=-55\nHiT=125\n[LEVELS]\nLoL=-55\nHiL=125\n"
                             "[DATA]\nSave=1\nPeriodSave=1\nFileType=0\nFileSave=\n";

// Standard error, caught in a file for the life of the object.
class StderrCapture {
public:
    StderrCapture()
    {
        m_file.open();
        std::fflush(stderr);
        m_saved = ::dup(STDERR_FILENO);
        ::dup2(m_file.handle(), STDERR_FILENO);
    }
    ~StderrCapture() { take(); }
    QString take()
    {
        if (m_saved >= 0) {
            std::fflush(stderr);
            ::dup2(m_saved, STDERR_FILENO);
            ::close(m_saved);
            m_saved = -1;
            m_file.seek(0);
            m_text = QString::fromUtf8(m_file.readAll());
        }
        return m_text;
    }

private:
    QTemporaryFile m_file;
    int m_saved = -1;
    QString m_text;
};

struct LocaleScope {
    explicit LocaleScope(const QLocale &l) { QLocale::setDefault(l); }
    ~LocaleScope() { QLocale::setDefault(m_old); }
    QLocale m_old;
};

void writeIni(const QByteArray &text)
{
    QFile f(SettingsPath());
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write(text);
}

QByteArray readIni()
{
    QFile f(SettingsPath());
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

} // namespace

class TestSettings : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void init();
    void freshFolderWritesEveryKeyInOrder();
    void roundTrip();
    void integers_data();
    void integers();
    void bands_data();
    void bands();
    void commaLocale();
    void otherContentSurvives();
    void windows1251FileKeptByteForByte();
    void quotedPaths();
    void fileSaveWithLineBreakNotWritten_data();
    void fileSaveWithLineBreakNotWritten();
    void unwritable_data();
    void unwritable();
    void programFolderTried_data();
    void programFolderTried();
    void readOnlyProgramFolderStartsTheUsersFile();
    void pythonReadsTheFile();
    void registryRecord();

private:
    QTemporaryDir m_config;
};

void TestSettings::initTestCase()
{
    // Before any QSettings exists: it keeps the first configuration folder it sees.
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
}

void TestSettings::init()
{
    history().SetLoL(-55);
    history().SetHiL(125);
    history().SetFileSave(QString());
    Save = true;
    PeriodSave = 1;
    FileType = false;
    resetPortPaths();
}

void TestSettings::freshFolderWritesEveryKeyInOrder()
{
    test::ProgramFolder dir;
    QVERIFY(SaveSettings(Settings{}, 1));
    QCOMPARE(readIni(), QByteArray(FreshFile).replace("\n", ProfileFile::newFileEol()));
}

// Every value away from its default, through the file and back: a key saved
// under one name and read under another shows here.
void TestSettings::roundTrip()
{
    test::ProgramFolder dir;
    Settings s{false, false, false, true, 2, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10.5L, 99.25L};
    history().SetLoL(-20.5L);
    history().SetHiL(40);
    history().SetFileSave(QStringLiteral("/home/пользователь/данные 1.csv"));
    Save = false;
    PeriodSave = 10;
    FileType = true;
    QVERIFY(SaveSettings(s, 3));

    init();
    Settings r;
    LoadSettings(r);
    QCOMPARE(std::make_tuple(r.SignalUse, r.ControlT, r.AutoScale, r.AutoRun, int(r.PORT)),
             std::make_tuple(false, false, false, true, 3));
    QCOMPARE(QList<std::uint32_t>({r.TempColor, r.TempValueColor, r.NormalColor, r.StopColor,
                                   r.ErrorColor, r.LoTColor, r.HiTColor, r.LPTColor, r.HPTColor}),
             QList<std::uint32_t>({1, 2, 3, 4, 5, 6, 7, 8, 9}));
    QVERIFY(r.LoT == 10.5L && r.HiT == 99.25L);
    QVERIFY(history().LoL() == -20.5L && history().HiL() == 40);
    QCOMPARE(history().FileSave(), QStringLiteral("/home/пользователь/данные 1.csv"));
    QCOMPARE(std::make_tuple(Save.load(), int(PeriodSave.load()), FileType.load()),
             std::make_tuple(false, 10, true));
}

void TestSettings::integers_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("read");
    QTest::addColumn<QString>("written"); // the value saved back
    auto row = [](const char *name, const char *sec, const char *key, const char *text,
                  qint64 read, const char *written) {
        QTest::newRow(name) << sec << key << text << read << written;
    };
    row("PORT 0", "GENERAL", "PORT", "0", 1, "1");
    row("PORT 5", "GENERAL", "PORT", "5", 1, "1");
    row("PORT -1", "GENERAL", "PORT", "-1", 1, "1");
    row("PORT 259", "GENERAL", "PORT", "259", 3, "3");
    row("PORT hex", "general", "port", "$4", 4, "4");
    row("PORT garbage", "GENERAL", "PORT", "2x", 1, "1");
    row("PeriodSave 1", "DATA", "PeriodSave", "1", 1, "1");
    row("PeriodSave 3", "DATA", "PeriodSave", "3", 2, "2");
    row("PeriodSave 31", "DATA", "PeriodSave", "31", 30, "30");
    row("PeriodSave 0", "DATA", "PeriodSave", "0", 1, "1");
    row("PeriodSave 45", "DATA", "PeriodSave", "45", 30, "30");
    row("PeriodSave 60", "DATA", "PeriodSave", "60", 30, "30");
    row("PeriodSave 258", "DATA", "PeriodSave", "258", 2, "2");
    row("colour $ hex", "COLORS", "TempColor", "$0000FF", 255, "255");
    row("colour 0x hex", "COLORS", "TempColor", "0x0000FF", 255, "255");
    row("colour 0X mixed case", "COLORS", "TempColor", "0X00fF00", 65280, "65280");
    row("colour all ones", "COLORS", "TempColor", "$FFFFFFFF", 0xFFFFFFFF, "-1");
    row("colour -1", "COLORS", "TempColor", "-1", 0xFFFFFFFF, "-1");
    row("colour int32 min", "COLORS", "TempColor", "-2147483648", 0x80000000, "-2147483648");
    row("colour plus sign", "COLORS", "TempColor", "+12", 12, "12");
    row("colour leading zeros", "COLORS", "TempColor", "000000000000255", 255, "255");
    row("colour overflow", "COLORS", "TempColor", "2147483648", 33023, "33023");
    row("colour hex overflow", "COLORS", "TempColor", "$1FFFFFFFF", 33023, "33023");
    row("colour trailing garbage", "COLORS", "TempColor", "12abc", 33023, "33023");
    row("colour bare $", "COLORS", "TempColor", "$", 33023, "33023");
    row("colour bare 0x", "COLORS", "TempColor", "0x", 33023, "33023");
    row("colour bare sign", "COLORS", "TempColor", "-", 33023, "33023");
    row("colour empty", "COLORS", "TempColor", "", 33023, "33023");
    row("colour non-Latin digit", "COLORS", "TempColor", "\u0663", 33023, "33023");
    row("bool 0", "GENERAL", "SignalUse", "0", 0, "0");
    row("bool 2 is true", "GENERAL", "SignalUse", "2", 1, "1");
    row("bool hex zero", "GENERAL", "SignalUse", "$0", 0, "0");
    row("bool word keeps default", "GENERAL", "SignalUse", "no", 1, "1");
    row("bool AutoRun -1", "GENERAL", "AutoRun", "-1", 1, "1");
    row("bool FileType", "DATA", "FileType", "7", 1, "1");
    // Windows reads it as its profile functions do, without the quotes, and
    // a value that did not change keeps its bytes; Linux as it stands.
    const bool w = test::WindowsConventions;
    row("PORT in quotes", "GENERAL", "PORT", "\"2\"", w ? 2 : 1, w ? "\"2\"" : "1");
    row("colour in single quotes", "COLORS", "TempColor", "'$FF'", w ? 255 : 33023, w ? "255" : "33023");
}

void TestSettings::integers()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, text);
    QFETCH(qint64, read);
    QFETCH(QString, written);
    test::ProgramFolder dir;
    writeIni(QStringLiteral("[%1]\n%2=%3\n").arg(section, key, text).toUtf8());
    Settings s;
    LoadSettings(s);
    const QString k = key.toLower();
    const qint64 got = k == "port"         ? s.PORT
                       : k == "periodsave" ? PeriodSave.load()
                       : k == "tempcolor"  ? s.TempColor
                       : k == "signaluse"  ? s.SignalUse
                       : k == "autorun"    ? s.AutoRun
                                           : FileType.load();
    QCOMPARE(got, read);

    QVERIFY(SaveSettings(s, s.PORT));
    const QByteArray line = QStringLiteral("\n%1=%2\n").arg(key, written).toUtf8();
    QVERIFY2(readIni().startsWith(QStringLiteral("[%1]").arg(section).toUtf8() + line),
             readIni().constData());
}

void TestSettings::bands_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("lo");
    QTest::addColumn<QString>("hi");
    QTest::addColumn<double>("expectedLo");
    QTest::addColumn<double>("expectedHi");
    for (const char *sec : {"LIMITS", "LEVELS"}) {
        auto row = [sec](const char *name, const char *lo, const char *hi, double elo, double ehi) {
            QTest::addRow("%s %s", sec, name) << sec << lo << hi << elo << ehi;
        };
        row("low above 124", "124.5", "125", -55, 125);
        row("high below -54", "-55", "-54.5", -55, 125);
        row("reversed", "30", "10", 10, 30);
        row("under a degree", "20", "20.5", -55, 125);
        row("edges", "124", "125", 124, 125);
        row("exactly a degree", "-55", "-54", -55, -54);
        row("comma and point", "22,5", "30.5", 22.5, 30.5);
        row("unreadable", "abc", "", -55, 125);
        row("missing low", nullptr, "50", -55, 50);
        row("nan and inf", "nan", "inf", -55, 125);
        row("both marks", "1,000.5", "50", -55, 50);
        row("outside the scale", "-60", "130", -55, 125);
        row("exponent", "2.5e1", "3E1", 25, 30);
        // As doubles the first pair came out short of a degree and the next
        // low bound as exactly 124.
        row("a degree in extended precision", "-32.8", "-31.8", -32.8, -31.8);
        row("low just above 124", "124.00000000000000001", "125", -55, 125);
        // A pair the edits took as a degree apart survives the next start.
        row("a degree a few units short in binary", "-16.8", "-15.8", -16.8, -15.8);
        // Forms that the double reading took or refused, kept as they were.
        row("Unicode minus and blank", "\u221220", "50\u00A0", -20, 50);
        row("below a double's range", "1e-400", "50", -55, 50);
        row("lone point", ".", "50", -55, 50);
    }
}

void TestSettings::bands()
{
    QFETCH(QString, section);
    QFETCH(QString, lo);
    QFETCH(QString, hi);
    QFETCH(double, expectedLo);
    QFETCH(double, expectedHi);
    test::ProgramFolder dir;
    const bool limits = section == "LIMITS";
    const QString loKey = limits ? "LoT" : "LoL", hiKey = limits ? "HiT" : "HiL";
    QString text = QStringLiteral("[%1]\n").arg(section);
    if (!lo.isNull())
        text += QStringLiteral("%1=%2\n").arg(loKey, lo);
    text += QStringLiteral("%1=%2\n").arg(hiKey, hi);
    writeIni(text.toUtf8());
    Settings s;
    LoadSettings(s);
    QCOMPARE(double(limits ? s.LoT : history().LoL()), expectedLo);
    QCOMPARE(double(limits ? s.HiT : history().HiL()), expectedHi);
}

void TestSettings::commaLocale()
{
    test::ProgramFolder dir;
    {
        LocaleScope ru{QLocale(QLocale::Russian)};
        Settings s;
        s.LoT = 22.5L;
        s.HiT = 1.0L / 3;
        history().SetLoL(0.1L + 0.2L);
        history().SetHiL(-12.25L);
        QVERIFY(SaveSettings(s, 1));
        const QByteArray ini = readIni().replace("\r\n", "\n");
        for (const char *line : {"\nLoT=22,5\n", "\nHiT=0,333333333333333\n", "\nLoL=0,3\n",
                                 "\nHiL=-12,25\n"})
            QVERIFY2(ini.contains(line), ini.constData());

        Settings r;
        LoadSettings(r);
        QCOMPARE(double(r.LoT), 0.333333333333333); // swapped into order
        QCOMPARE(double(r.HiT), 22.5);
    }
    // Back under the default locale the file still reads the same.
    Settings r;
    LoadSettings(r);
    QCOMPARE(double(r.HiT), 22.5);
    QCOMPARE(double(history().LoL()), -12.25);
    QCOMPARE(double(history().HiL()), 0.3);
}

void TestSettings::otherContentSurvives()
{
    test::ProgramFolder dir;
    const QByteArray before = "\xEF\xBB\xBF; KP33\r\n[GENERAL]\r\nTheme=dark\r\n port = 2\r\n\r\n"
                              "[PORTS]\r\nCOM1=/dev/ttyACM0\r\nCOM2=\r\n[Extra]\r\na = b \r\n";
    writeIni(before);
    // An empty entry keeps the platform's own name for the port.
    const std::string com2 = portPath("COM2");
    Settings s;
    LoadSettings(s);
    QCOMPARE(int(s.PORT), 2);
    QCOMPARE(portPath("COM1"), std::string("/dev/ttyACM0"));
    QCOMPARE(portPath("COM2"), com2);
    QVERIFY(SaveSettings(s, 4));

    QByteArray expected = FreshFile;
    expected.replace("PORT=1\n", "")
        .replace("[GENERAL]\n", "; KP33\n[GENERAL]\nTheme=dark\n port = 4\n")
        .replace("AutoRun=0\n", "AutoRun=0\n\n[PORTS]\nCOM1=/dev/ttyACM0\nCOM2=\n[Extra]\na = b \n")
        .replace("\n", "\r\n");
    QCOMPARE(readIni(), "\xEF\xBB\xBF" + expected);
}

// A file of the earlier Windows program, code page 1251 and CR LF, with
// nothing to correct: saving it changes no byte.
void TestSettings::windows1251FileKeptByteForByte()
{
    test::ProgramFolder dir;
    QByteArray before = FreshFile;
    before.replace("FileType=0\nFileSave=\n",
                   "FileType=1\nFileSave=C:\\\xC4\xE0\xED\xED\xFB\xE5\\\xE7\xE0\xEC\xE5\xF0.csv\n")
        .replace("\n", "\r\n");
    writeIni(before);
    Settings s;
    LoadSettings(s);
    QCOMPARE(history().FileSave(), QStringLiteral("C:\\Данные\\замер.csv"));
    QVERIFY(SaveSettings(s, s.PORT));
    QCOMPARE(readIni(), before);
}

// Paths in quotes, as people write them when a path holds blanks.
void TestSettings::quotedPaths()
{
    test::ProgramFolder dir;
    const QByteArray before = "[DATA]\r\nFileType=1\r\nFileSave=\"C:\\Мои данные\\замер.csv\"\r\n"
                              "[PORTS]\r\nCOM3='COM7'\r\n";
    writeIni(before);
    Settings s;
    LoadSettings(s);
    const bool w = test::WindowsConventions;
    QCOMPARE(history().FileSave(), w ? QStringLiteral("C:\\Мои данные\\замер.csv")
                                     : QStringLiteral("\"C:\\Мои данные\\замер.csv\""));
    QCOMPARE(portPath("COM3"), std::string(w ? "COM7" : "'COM7'"));
    QVERIFY(SaveSettings(s, s.PORT));
    QVERIFY2(readIni().contains("\nFileSave=\"C:\\Мои данные\\замер.csv\"\r\n"), readIni().constData());
}

void TestSettings::fileSaveWithLineBreakNotWritten_data()
{
    QTest::addColumn<QString>("bad");
    QTest::newRow("LF") << "\n";
    QTest::newRow("CR") << "\r";
    QTest::newRow("NUL") << QString(QChar(u'\0'));
}

void TestSettings::fileSaveWithLineBreakNotWritten()
{
    QFETCH(QString, bad);
    test::ProgramFolder dir;
    writeIni("[DATA]\nFileSave=old.csv\n");
    history().SetFileSave("new" + bad + "PORT=3");
    StderrCapture err;
    QVERIFY(SaveSettings(Settings{}, 1));
    QVERIFY(err.take().contains("KP33.ini"));
    const QByteArray ini = readIni();
    QVERIFY2(ini.contains("\nFileSave=old.csv\n") && ini.contains("\nPeriodSave=1\n"),
             ini.constData());
    QVERIFY(!ini.contains("new"));
}

void TestSettings::unwritable_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("directory in place of KP33.ini") << "directory";
    QTest::newRow("FIFO in place of KP33.ini") << "fifo";
    QTest::newRow("regular file in place of the folder") << "folder-file";
}

void TestSettings::unwritable()
{
    QFETCH(QString, kind);
    test::ProgramFolder dir;
    if (kind == "directory") {
        QVERIFY(QDir().mkdir(SettingsPath()));
        QFile inside(SettingsPath() + "/x");
        QVERIFY(inside.open(QIODevice::WriteOnly));
    } else if (kind == "fifo") {
        if (!test::HasFifos)
            QSKIP("no FIFOs in this file system");
        QVERIFY(test::MakeFifo(SettingsPath()));
    } else {
        QFile f(dir.path() + "plain");
        QVERIFY(f.open(QIODevice::WriteOnly));
        setProgramDir(f.fileName());
    }
    StderrCapture err;
    Settings s;
    s.PORT = 3;
    s.HiT = 20;
    LoadSettings(s); // must not wait for a writer on the FIFO
    QCOMPARE(int(s.PORT), 1);
    QCOMPARE(double(s.HiT), 125.0);
    QString failure;
    QVERIFY(!SaveSettings(s, 1, &failure));
    const QString text = err.take();
    QVERIFY2(text.contains(QDir::toNativeSeparators(SettingsPath())), qPrintable(text));
    QVERIFY(text.endsWith('\n'));
    // The error box: the file in the platform's separators, and the cause.
    const QStringList box = failure.split(QStringLiteral("\r\r"));
    QCOMPARE(box.size(), 4);
    QCOMPARE(box[0], QStringLiteral("Невозможно записать настройки в файл"));
    QCOMPARE(box[1], QDir::toNativeSeparators(SettingsPath()));
    QVERIFY(!box[2].isEmpty() && box[2][0].isUpper());
    QCOMPARE(box[3], QStringLiteral("Настройки не сохранены."));

    const QFileInfo after(SettingsPath());
    QCOMPARE(after.isDir(), kind == "directory");
    QCOMPARE(after.exists(), kind != "folder-file");
    QVERIFY(!after.isFile());
    if (kind == "directory")
        QVERIFY(QFileInfo::exists(SettingsPath() + "/x"));
}

void TestSettings::programFolderTried_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<bool>("writable");
    QTest::newRow("a folder of our own") << "folder" << true;
    QTest::newRow("a folder that is not there") << "missing" << false;
    QTest::newRow("a file, not a folder") << "file" << false;
}

void TestSettings::programFolderTried()
{
    QFETCH(QString, kind);
    QFETCH(bool, writable);
    QTemporaryDir dir;
    QString folder = dir.path();
    if (kind == "missing") {
        folder += "/gone";
    } else if (kind == "file") {
        folder += "/plain";
        QFile f(folder);
        QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QCOMPARE(FolderWritable(folder), writable);
    // The probe leaves nothing behind.
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System),
             kind == "file" ? QStringList{"plain"} : QStringList{});
}

// A program folder the user cannot write (a system-wide install): a
// KP33.ini there is where the user's settings start, and every save goes to
// the user's own folder, on Windows %LOCALAPPDATA%\KP33.
void TestSettings::readOnlyProgramFolderStartsTheUsersFile()
{
    test::UserFolders folders;
    QVERIFY2(!folders.settings().isEmpty(), "the system names no folder of the user's");
    QCOMPARE(programDir(), folders.program()); // the help is still read there
    QCOMPARE(settingsDir(), folders.settings());
    QCOMPARE(SettingsPath(), folders.settings() + "KP33.ini");
    QVERIFY(QFileInfo(folders.settings()).isDir());
    const QString own = SettingsPath();
    // Suites share a Wine prefix's %LOCALAPPDATA%: only this file is ours.
    QFile::remove(own);
    const auto forget = qScopeGuard([&] { QFile::remove(own); });

    const QString shipped = folders.program() + "KP33.ini";
    const QByteArray start = "; prepared for every user\r\n[GENERAL]\r\nPORT=3\r\n[LEVELS]\r\nLoL=-10\r\n"
                             "[PORTS]\r\nCOM1=/dev/ttyACM0\r\n";
    {
        QFile f(shipped);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(start);
    }
    Settings s;
    LoadSettings(s);
    QCOMPARE(int(s.PORT), 3);
    QCOMPARE(double(history().LoL()), -10.0);
    QCOMPARE(portPath("COM1"), std::string("/dev/ttyACM0"));
    QVERIFY(!QFile::exists(own)); // nothing is written before the close

    QVERIFY(SaveSettings(s, 2));
    // Its lines first, as they were; the sections it lacks follow.
    const QByteArray fresh = FreshFile;
    const auto section = [&](const char *name) {
        const qsizetype from = fresh.indexOf(name);
        const qsizetype to = fresh.indexOf('[', from + 1);
        return fresh.mid(from, to < 0 ? -1 : to - from);
    };
    QByteArray expected = "; prepared for every user\n[GENERAL]\nPORT=2\nSignalUse=1\nControlT=1\nAutoScale=1\n"
                          "AutoRun=0\n[LEVELS]\nLoL=-10\nHiL=125\n[PORTS]\nCOM1=/dev/ttyACM0\n" +
                          section("[COLORS]") + section("[LIMITS]") + section("[DATA]");
    QCOMPARE(readIni(), expected.replace("\n", "\r\n"));
    // The program folder holds what it held, byte for byte.
    QFile f(shipped);
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), start);
    f.close();
    QCOMPARE(QDir(folders.program()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
             QStringList{"KP33.ini"});

    // From now on the user's file is the one read.
    writeIni("[GENERAL]\nPORT=4\n");
    LoadSettings(s);
    QCOMPARE(int(s.PORT), 4);
}

void TestSettings::pythonReadsTheFile()
{
    const QString python = QStandardPaths::findExecutable(QStringLiteral("python3"));
    if (python.isEmpty())
        QSKIP("python3 is not installed");
    test::ProgramFolder dir;
    history().SetFileSave(QStringLiteral("/данные/x.csv"));
    QVERIFY(SaveSettings(Settings{}, 1));

    QProcess py;
    py.start(python, {"-c",
                      "import configparser, sys\n"
                      "c = configparser.ConfigParser(interpolation=None)\n"
                      "c.optionxform = str\n"
                      "c.read(sys.argv[1], encoding='utf-8')\n"
                      "out = ''.join(f'{s}.{k}={v}\\n'\n"
                      "              for s in c.sections() for k, v in c[s].items())\n"
                      "sys.stdout.buffer.write(out.encode('utf-8'))\n",
                      SettingsPath()});
    QVERIFY(py.waitForFinished(60000));
    QCOMPARE(py.exitCode(), 0);

    QStringList expected;
    QString section;
    for (const QString &line : QString::fromUtf8(FreshFile).split('\n', Qt::SkipEmptyParts)) {
        if (line.startsWith('['))
            section = line.mid(1, line.size() - 2);
        else
            expected << section + '.' + line;
    }
    expected.last() = QStringLiteral("DATA.FileSave=/данные/x.csv");
    QCOMPARE(expected.size(), 22);
    QCOMPARE(QString::fromUtf8(py.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts),
             expected);
}

void TestSettings::registryRecord()
{
    const QString location = RegistryRecordLocation();
    if (test::RecordIsAFile) {
        // A file where the folder should be: the record cannot be written.
        const QString folder = QFileInfo(location).path();
        QFile blocker(folder);
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        StderrCapture err;
        QVERIFY(!WriteRegistryRecord());
        QVERIFY(err.take().contains("Information.conf"));
        QVERIFY(blocker.remove());
    }
    test::ClearRegistryRecord(location);
    // The record is written at the close, when Qt's own dialogs may have
    // turned Qt's scope-based settings away already.
    KeepQtDialogsToThemselves();
    QVERIFY(WriteRegistryRecord());
    const QString stars(21, u'*');
    const QStringList expected = {"Autor=Команда KP33",
                                  "Copyright=Copyright (c) 2026 KP33",
                                  "E-mail=" + stars,
                                  "Product=Virtual thermometr KP33",
                                  "Version=1.0",
                                  "Web-Site=" + stars};
    QCOMPARE(test::ReadRegistryRecord(location), expected);
}

QTEST_GUILESS_MAIN(TestSettings)
#include "tst_settings.moc"
