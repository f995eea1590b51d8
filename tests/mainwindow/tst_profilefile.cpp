// The INI reader/writer: what reads as what, where writes land, what must
// survive byte for byte, and files that are not files.

#include "mainwindow/profilefile.h"
#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>
#include <algorithm>

using namespace kp33;
using Load = ProfileFile::LoadResult;

Q_DECLARE_METATYPE(ProfileFile::LoadResult)

namespace {

const QByteArray Bom("\xEF\xBB\xBF");

struct RawLine {
    QByteArray text, ending;
};

// The test's own line split, independent of the one under test.
QList<RawLine> splitLines(QByteArray b)
{
    if (b.startsWith(Bom))
        b.remove(0, Bom.size());
    QList<RawLine> out;
    qsizetype start = 0;
    for (qsizetype i = 0; i < b.size(); ++i) {
        if (b[i] != '\n' && b[i] != '\r')
            continue;
        const qsizetype n = (b[i] == '\r' && i + 1 < b.size() && b[i + 1] == '\n') ? 2 : 1;
        out.append({b.mid(start, i - start), b.mid(i, n)});
        i += n - 1;
        start = i + 1;
    }
    if (start < b.size())
        out.append({b.mid(start), {}});
    return out;
}

struct Write {
    QString section, key, value;
};

} // namespace

class TestProfileFile : public QObject {
    Q_OBJECT
private slots:
    void read_data();
    void read();
    void write_data();
    void write();
    void quotedWrites_data();
    void quotedWrites();
    void refusesWhatCannotBeReadBack_data();
    void refusesWhatCannotBeReadBack();
    void onDisk_data();
    void onDisk();
    void heldByAnotherProgram_data();
    void heldByAnotherProgram();
    void fuzz();
};

void TestProfileFile::read_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<bool>("stripQuotes");
    auto row = [](const char *name, const QByteArray &file, const char *section, const char *key,
                  const QString &expected, bool stripQuotes = false) {
        QTest::newRow(name) << file << section << key << expected << stripQuotes;
    };
    const QString D = QStringLiteral("DEF");
    row("names ignore case", "[general]\nport=3\n", "GENERAL", "Port", "3");
    row("blanks trimmed", " [ S ] \n\t k \t= v w \t\n", "s", "K", "v w");
    row("first section wins", "[S]\na=1\n[s]\na=2\n", "S", "a", "1");
    row("later duplicate ignored", "[S]\na=1\n[s]\nb=2\n", "S", "b", D);
    row("first key wins", "[S]\nk=1\nK=2\n", "S", "k", "1");
    row("key before any section", "k=1\n[S]\n", "S", "k", D);
    row("missing file", "", "S", "k", D);
    row("missing key", "[S]\nj=1\n", "S", "k", D);
    row("empty value is a value", "[S]\nk=\n", "S", "k", "");
    row("value holds =", "[S]\nk=a=b\n", "S", "k", "a=b");
    row("comment is no key", "[S]\n;k=1\n", "S", ";k", D);
    row("text after header", "[S] ; note\nk=1\n", "S", "k", "1");
    row("broken header is no section", "[T]\n[S\nk=1\n", "T", "k", "1");
    row("BOM ignored", Bom + "[S]\nk=1\n", "S", "k", "1");
    row("CR LF", "[S]\r\nk=1\r\n", "S", "k", "1");
    row("lone CR, no last ending", "[S]\rk=1\rj=2", "S", "j", "2");
    row("NUL kept in value", QByteArrayLiteral("[S]\nk=a\0b\n"), "S", "k",
        QString::fromUtf8("a\0b", 3));
    row("Cyrillic names ignore case", "[Порты]\nключ=знач\n", "ПОРТЫ", "КЛЮЧ", "знач");
    // As the earlier Windows program wrote them, in code page 1251.
    row("cp1251 value", "[DATA]\nFileSave=C:\\\xC4\xE0\xED\xED\xFB\xE5\\1.csv\n", "DATA",
        "FileSave", "C:\\Данные\\1.csv");
    row("cp1251 signs, 0x98 unassigned", "[S]\nk=\xA8\xB8\xB9\x96\xAB\x98\xBB\n", "S", "k",
        "Ёё№–«\uFFFD»");
    row("cp1251 names ignore case", "[\xCF\xEE\xF0\xF2\xFB]\n\xCA\xEB\xFE\xF7=1\n", "ПОРТЫ",
        "кЛЮЧ", "1");
    // As Windows' profile functions read them: one pair of matching quotes
    // around the whole value goes.
    const bool strip = true;
    row("double quotes go", "[S]\nk=\"C:\\Program Files\\d.csv\"\n", "S", "k", "C:\\Program Files\\d.csv", strip);
    row("single quotes go", "[S]\nk='a b'\n", "S", "k", "a b", strip);
    row("blanks inside quotes stay", "[S]\nk = \" a \" \n", "S", "k", " a ", strip);
    row("empty in quotes", "[S]\nk=\"\"\n", "S", "k", "", strip);
    row("a lone quote stays", "[S]\nk=\"\n", "S", "k", "\"", strip);
    row("quotes that differ stay", "[S]\nk=\"a'\n", "S", "k", "\"a'", strip);
    row("only one pair goes", "[S]\nk=\"\"a\"\"\n", "S", "k", "\"a\"", strip);
    row("quotes inside stay", "[S]\nk=a \"b\"\n", "S", "k", "a \"b\"", strip);
    row("quotes kept where not stripped", "[S]\nk=\"a b\"\n", "S", "k", "\"a b\"");
}

void TestProfileFile::read()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, expected);
    QFETCH(bool, stripQuotes);
    ProfileFile f;
    f.setStripQuotes(stripQuotes);
    f.setContents(file);
    QCOMPARE(f.readString(section, key, QStringLiteral("DEF")), expected);
    QCOMPARE(f.contents(), file);
    if (stripQuotes) {
        // Read the way Windows itself reads it, where it can be asked.
        QTemporaryDir dir;
        QFile ini(dir.filePath(QStringLiteral("quoted.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(file) == file.size());
        ini.close();
        if (const auto system = test::SystemProfileString(ini.fileName(), section, key))
            QCOMPARE(*system, expected);
    }
}

void TestProfileFile::write_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QStringList>("writes"); // "section|key|value", applied in order
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("in place, prefix and ending kept")
        << QByteArray("[S]\r\n  Key = old\r\nX=1\r\n") << QStringList{"s|KEY|new"}
        << QByteArray("[S]\r\n  Key = new\r\nX=1\r\n");
    QTest::newRow("after last non-blank line of its section")
        << QByteArray("[A]\nx=1\n; note\n\n[B]\n") << QStringList{"A|y|2", "A|z|3"}
        << QByteArray("[A]\nx=1\n; note\ny=2\nz=3\n\n[B]\n");
    QTest::newRow("into the first of duplicate sections")
        << QByteArray("[A]\nx=1\n[B]\n[a]\ny=1\n") << QStringList{"A|y|2"}
        << QByteArray("[A]\nx=1\ny=2\n[B]\n[a]\ny=1\n");
    QTest::newRow("first of duplicate keys")
        << QByteArray("[A]\nk=1\nk=2\n") << QStringList{"A|K|3"} << QByteArray("[A]\nk=3\nk=2\n");
    QTest::newRow("new section at end in the file's ending")
        << QByteArray("[A]\r\nx=1\n") << QStringList{"B|k|v", "B|j|w"}
        << QByteArray("[A]\r\nx=1\n[B]\r\nk=v\r\nj=w\r\n");
    QTest::newRow("last line without ending") << QByteArray("[A]\nx=1") << QStringList{"A|y|2"}
                                              << QByteArray("[A]\nx=1\ny=2\n");
    QTest::newRow("header at end without ending") << QByteArray("x\r\n[S]") << QStringList{"S|k|1"}
                                                  << QByteArray("x\r\n[S]\r\nk=1\r\n");
    QTest::newRow("lone CR") << QByteArray("[A]\rx=1\r") << QStringList{"A|x|5", "A|z|6"}
                             << QByteArray("[A]\rx=5\rz=6\r");
    QTest::newRow("BOM kept") << Bom + "[A]\n" << QStringList{"a|x|1"} << Bom + "[A]\nx=1\n";
    QTest::newRow("empty file") << QByteArray() << QStringList{"S|k|v", "S|k|w"}
                                << QByteArray("[S]\nk=w\n");
    QTest::newRow("key outside sections untouched") << QByteArray("k=0\n[S]\n")
                                                    << QStringList{"S|k|1"}
                                                    << QByteArray("k=0\n[S]\nk=1\n");
    QTest::newRow("comments untouched") << QByteArray("[S]\n;k=0\n#k=0\n") << QStringList{"S|k|1"}
                                        << QByteArray("[S]\n;k=0\n#k=0\nk=1\n");
    QTest::newRow("only the first section counts")
        << QByteArray("[A]\n[B]\n[a]\nk=1\n") << QStringList{"A|k|2"}
        << QByteArray("[A]\nk=2\n[B]\n[a]\nk=1\n");
    // "C:\Данные\1.csv", "Заметка" with the unassigned 0x98 and a comment, in code page 1251.
    const QByteArray cp1251 = "; \xCA\xEE\xEC\xEC\xE5\xED\xF2\r\n[DATA]\r\n"
                              "FileSave=C:\\\xC4\xE0\xED\xED\xFB\xE5\\1.csv\r\n"
                              "Note = \xC7\xE0\xEC\xE5\xF2\xEA\xE0\x98 \r\nUtf=Данные\r\n";
    QTest::newRow("cp1251 written back unchanged keeps its bytes")
        << cp1251 << QStringList{"DATA|FileSave|C:\\Данные\\1.csv", "data|note|Заметка\uFFFD"}
        << cp1251;
    QTest::newRow("cp1251: a changed value goes in as UTF-8, the rest stays")
        << cp1251 << QStringList{"DATA|FileSave|C:\\Отчёт.csv", "DATA|Note|Заметка\uFFFD",
                                 "DATA|Utf|Данные"}
        << QByteArray(cp1251).replace("C:\\\xC4\xE0\xED\xED\xFB\xE5\\1.csv", "C:\\Отчёт.csv");
    QTest::newRow("garbage and NUL untouched")
        << QByteArrayLiteral("\x01\xFF\n[S]\n\0junk\nk=1\n") << QStringList{"S|k|2"}
        << QByteArrayLiteral("\x01\xFF\n[S]\n\0junk\nk=2\n");
}

void TestProfileFile::write()
{
    QFETCH(QByteArray, before);
    QFETCH(QStringList, writes);
    QFETCH(QByteArray, after);
    ProfileFile f;
    f.setContents(before);
    for (const QString &w : writes) {
        const QStringList p = w.split(u'|');
        QVERIFY(f.writeString(p[0], p[1], p[2]));
        QCOMPARE(f.readString(p[0], p[1], QString()), p[2]);
    }
    // A file begun from nothing takes the platform's line ending.
    QCOMPARE(f.contents(), before.isEmpty() ? QByteArray(after).replace("\n", ProfileFile::newFileEol()) : after);
}

// Where quotes are stripped on reading, a value goes in so that it reads
// back as itself.
void TestProfileFile::quotedWrites_data()
{
    QTest::addColumn<bool>("stripQuotes");
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QString>("value");
    QTest::addColumn<QByteArray>("after");
    QTest::newRow("a value in quotes gets a pair of its own")
        << true << QByteArray("[S]\n") << "\"x\"" << QByteArray("[S]\nk=\"\"x\"\"\n");
    QTest::newRow("blank at an end") << true << QByteArray("[S]\n") << " x" << QByteArray("[S]\nk=\" x\"\n");
    QTest::newRow("plain value as it is") << true << QByteArray("[S]\n") << "x 'y'" << QByteArray("[S]\nk=x 'y'\n");
    QTest::newRow("a lone quote as it is") << true << QByteArray("[S]\n") << "'" << QByteArray("[S]\nk='\n");
    QTest::newRow("an unchanged quoted value keeps its bytes")
        << true << QByteArray("[S]\nk = 'a b'\n") << "a b" << QByteArray("[S]\nk = 'a b'\n");
    QTest::newRow("a changed one loses them")
        << true << QByteArray("[S]\nk='a b'\n") << "c" << QByteArray("[S]\nk=c\n");
    QTest::newRow("not stripped: as it is")
        << false << QByteArray("[S]\n") << "\"x\"" << QByteArray("[S]\nk=\"x\"\n");
}

void TestProfileFile::quotedWrites()
{
    QFETCH(bool, stripQuotes);
    QFETCH(QByteArray, before);
    QFETCH(QString, value);
    QFETCH(QByteArray, after);
    ProfileFile f;
    f.setStripQuotes(stripQuotes);
    f.setContents(before);
    QVERIFY(f.writeString("S", "k", value));
    QCOMPARE(f.readString("S", "k", QString()), value);
    QCOMPARE(f.contents(), after);
}

void TestProfileFile::refusesWhatCannotBeReadBack_data()
{
    QTest::addColumn<QString>("section");
    QTest::addColumn<QString>("key");
    QTest::addColumn<QString>("value");
    QTest::newRow("LF in value") << "S" << "k" << "a\nk2=b";
    QTest::newRow("CR in value") << "S" << "k" << "a\rb";
    QTest::newRow("NUL in value") << "S" << "k" << QString::fromUtf8("a\0b", 3);
    QTest::newRow("] in section") << "S]x" << "k" << "v";
    QTest::newRow("LF in section") << "S\n[T" << "k" << "v";
    QTest::newRow("empty section") << " " << "k" << "v";
    QTest::newRow("= in key") << "S" << "k=j" << "v";
    QTest::newRow("empty key") << "S" << "" << "v";
    QTest::newRow("key that reads as a comment") << "S" << ";k" << "v";
    QTest::newRow("key that reads as a header") << "S" << "[k]" << "v";
}

void TestProfileFile::refusesWhatCannotBeReadBack()
{
    QFETCH(QString, section);
    QFETCH(QString, key);
    QFETCH(QString, value);
    const QByteArray before("[S]\nk=old\n");
    ProfileFile f;
    f.setContents(before);
    QVERIFY(!f.writeString(section, key, value));
    QCOMPARE(f.contents(), before);
}

void TestProfileFile::onDisk_data()
{
    QTest::addColumn<QString>("kind");
    QTest::addColumn<Load>("load");
    QTest::addColumn<bool>("saved");
    QTest::newRow("missing") << "missing" << Load::Missing << true;
    QTest::newRow("regular, BOM and CR LF") << "regular" << Load::Loaded << true;
    QTest::newRow("directory") << "directory" << Load::NotRegular << false;
    QTest::newRow("FIFO") << "fifo" << Load::NotRegular << false;
    QTest::newRow("oversized file kept") << "oversized" << Load::Unreadable << false;
    QTest::newRow("folder is a regular file") << "folder-file" << Load::Missing << false;
}

void TestProfileFile::onDisk()
{
    QFETCH(QString, kind);
    QFETCH(Load, load);
    QFETCH(bool, saved);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    QString path = dir.filePath(QStringLiteral("KP33.ini"));
    const QByteArray original = Bom + "[S]\r\n; c\r\n";
    if (kind == "regular") {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(original) == original.size());
    } else if (kind == "directory") {
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("KP33.ini")));
    } else if (kind == "fifo") {
        if (!test::HasFifos)
            QSKIP("no FIFOs in this file system");
        QVERIFY(test::MakeFifo(path));
    } else if (kind == "oversized") {
        QFile f(path); // sparse: large without taking the space
        QVERIFY(f.open(QIODevice::WriteOnly) && f.resize(ProfileFile::MaxSize + 1));
    } else if (kind == "folder-file") {
        QFile f(dir.filePath(QStringLiteral("folder")));
        QVERIFY(f.open(QIODevice::WriteOnly));
        path = f.fileName() + QStringLiteral("/KP33.ini");
    }
    const QFileInfo before(path);
    const QStringList entriesBefore = QDir(dir.path()).entryList(QDir::AllEntries | QDir::System);

    ProfileFile f;
    QCOMPARE(f.load(path), load);
    QCOMPARE(f.readString("S", "k", "DEF"), QStringLiteral("DEF"));
    QVERIFY(f.writeString("S", "k", "v"));
    QCOMPARE(f.save(), saved);
    if (saved) {
        QFile out(path);
        QVERIFY(out.open(QIODevice::ReadOnly));
        const QByteArray expected = kind == "regular" ? original + "k=v\r\n" : "[S]" + ProfileFile::newFileEol() + "k=v" + ProfileFile::newFileEol();
        QCOMPARE(out.readAll(), expected);
        return;
    }
    QVERIFY(!f.errorString().isEmpty());
    // Left as it was, and no temporary file stays behind.
    const QFileInfo after(path);
    QCOMPARE(after.exists(), before.exists());
    QCOMPARE(after.isDir(), before.isDir());
    QCOMPARE(after.isFile(), before.isFile());
    QCOMPARE(after.size(), before.size());
    QCOMPARE(QDir(dir.path()).entryList(QDir::AllEntries | QDir::System), entriesBefore);
}

// A clock whose every sleep may be the moment the other program lets go.
class ReleasingClock final : public Clock {
public:
    ReleasingClock(test::FileHold &hold, int releaseAfterSleeps) : m_hold(hold), m_releaseAfter(releaseAfterSleeps) {}
    std::uint32_t tickCount() override { return m_inner.tickCount(); }
    void sleep(std::uint32_t ms) override
    {
        m_inner.sleep(ms);
        if (++m_sleeps == m_releaseAfter)
            m_hold.release();
    }
    QDateTime now() override { return m_inner.now(); }
    bool waitInput(const InputWait &w, int ms) override { return m_inner.waitInput(w, ms); }
    void pauseDispatching(std::uint32_t ms) override { m_inner.pauseDispatching(ms); }
    std::uint64_t sleptMs() const { return m_inner.sleptMs(); }

private:
    test::FakeClock m_inner;
    test::FileHold &m_hold;
    const int m_releaseAfter;
    int m_sleeps = 0;
};

// Another program has KP33.ini open as the save comes: the rename is tried
// again for a moment, then the file is written in place; a hold that lets
// nobody write fails the save within the bound and leaves the file as it was.
void TestProfileFile::heldByAnotherProgram_data()
{
    QTest::addColumn<bool>("shareWrite");
    QTest::addColumn<int>("releaseAfterSleeps"); // 0: held throughout
    QTest::addColumn<bool>("saved");
    QTest::newRow("let go during the retry") << false << 3 << true;
    QTest::newRow("held throughout, writes shared") << true << 0 << true;
    QTest::newRow("held throughout, only reads shared") << false << 0 << false;
}

void TestProfileFile::heldByAnotherProgram()
{
    QFETCH(bool, shareWrite);
    QFETCH(int, releaseAfterSleeps);
    QFETCH(bool, saved);
    if (!test::HasFileHolds)
        QSKIP("an open file stands in nobody's way here");
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("KP33.ini"));
    const QByteArray original = "[S]\r\nk=old\r\n";
    {
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(original) == original.size());
    }
    ProfileFile f;
    QCOMPARE(f.load(path), Load::Loaded);
    QVERIFY(f.writeString("S", "k", "new"));

    test::FileHold hold(path, shareWrite);
    QVERIFY(hold.held());
    ReleasingClock clock(hold, releaseAfterSleeps);
    test::ClockScope scope(&clock);
    QCOMPARE(f.save(), saved);
    const std::uint64_t slept = clock.sleptMs();
    hold.release();

    QFile back(path);
    QVERIFY(back.open(QIODevice::ReadOnly));
    QCOMPARE(back.readAll(), saved ? QByteArray("[S]\r\nk=new\r\n") : original);
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System), QStringList{"KP33.ini"});
    if (releaseAfterSleeps > 0) {
        QVERIFY2(slept < ProfileFile::ReplaceRetryMs, qPrintable(QString::number(slept)));
    } else {
        // The whole second was given to the rename, and not much more.
        QVERIFY2(slept >= ProfileFile::ReplaceRetryMs && slept <= ProfileFile::ReplaceRetryMs + 100,
                 qPrintable(QString::number(slept)));
    }
    QCOMPARE(f.errorString().isEmpty(), saved);
}

// Random and mutated files: no crash, every write reads back, writing again
// changes nothing, and every line that is not one of the written keys stays
// byte for byte in its order.
void TestProfileFile::fuzz()
{
    QRandomGenerator rng(20260115);
    const QList<QByteArray> pieces = {
        "[GENERAL]", "[general]", " [ DATA ] ", "[PORTS]", "[Other]", "[", "[]", "[[x]]",
        "PORT=3", " port = 4 ", "FileSave=", "Unknown=1", "=x", "k", ";PORT=1", "#x=1", "",
        "  ", "TempColor", "[COLORS", "COLORS]"};
    const QList<QByteArray> endings = {"\n", "\r\n", "\r", ""};
    const QList<Write> targets = {{"GENERAL", "PORT", {}},
                                  {"DATA", "FileSave", {}},
                                  {"COLORS", "TempColor", {}},
                                  {"New", "Key", {}}};
    auto randomBytes = [&](int n) {
        QByteArray b(n, '\0');
        for (char &c : b)
            c = char(rng.bounded(256));
        return b;
    };

    QByteArray previous;
    for (int iteration = 0; iteration < 400; ++iteration) {
        QByteArray file;
        if (rng.bounded(4) == 0)
            file += Bom;
        const int lines = rng.bounded(30);
        for (int i = 0; i < lines; ++i) {
            file += rng.bounded(5) == 0 ? randomBytes(rng.bounded(40))
                                        : pieces[rng.bounded(pieces.size())];
            file += endings[rng.bounded(endings.size())];
        }
        if (iteration % 3 == 0 && !previous.isEmpty()) { // mutate the last output
            file = previous;
            for (int m = rng.bounded(1, 8); m > 0; --m) {
                const int at = rng.bounded(int(file.size()) + 1);
                switch (rng.bounded(3)) {
                case 0: file.insert(at, randomBytes(rng.bounded(1, 4))); break;
                case 1: file.remove(at, rng.bounded(1, 4)); break;
                default: if (at < file.size()) file[at] = char(rng.bounded(256));
                }
            }
        }
        if (iteration == 1)
            file += "[GENERAL]\n" + QByteArray(10 * 1024 * 1024, 'X') + QByteArrayLiteral("=\0=\n");
        if (iteration == 2)
            for (int i = 0; i < 5000; ++i)
                file += "[GENERAL]\r\nPORT=1\r\n";

        QList<Write> writes;
        for (const Write &t : targets)
            if (rng.bounded(3) != 0)
                writes.append({t.section, t.key, QString::number(rng.generate(), 36)});

        ProfileFile f;
        f.setContents(file);
        for (const Write &w : writes)
            QVERIFY(f.writeString(w.section, w.key, w.value));
        for (const Write &w : writes)
            QCOMPARE(f.readString(w.section, w.key, QString()), w.value);
        const QByteArray out = f.contents();
        QCOMPARE(out.startsWith(Bom), file.startsWith(Bom));

        ProfileFile again;
        again.setContents(out);
        for (const Write &w : writes)
            QVERIFY(again.writeString(w.section, w.key, w.value));
        QCOMPARE(again.contents(), out);

        auto isWrittenKey = [&](const QByteArray &text) {
            const qsizetype eq = text.indexOf('=');
            const QString name = QString::fromUtf8(text.left(eq).trimmed());
            return eq >= 0 && std::any_of(writes.begin(), writes.end(), [&](const Write &w) {
                       return name.compare(w.key, Qt::CaseInsensitive) == 0;
                   });
        };
        auto isNewLine = [&](const QByteArray &text) {
            return std::any_of(writes.begin(), writes.end(), [&](const Write &w) {
                return text == '[' + w.section.toUtf8() + ']'
                       || text == w.key.toUtf8() + '=' + w.value.toUtf8();
            });
        };
        const QList<RawLine> was = splitLines(file);
        const QList<RawLine> now = splitLines(out);
        qsizetype j = 0;
        for (qsizetype i = 0; i < was.size(); ++i) {
            const RawLine &o = was[i];
            const bool last = i == was.size() - 1;
            auto kept = [&](const RawLine &n) {
                const bool endingKept = n.ending == o.ending || (last && o.ending.isEmpty());
                if (!endingKept)
                    return false;
                if (n.text == o.text)
                    return true;
                // A written key may change after its "=", nowhere else.
                const qsizetype eq = o.text.indexOf('=');
                return isWrittenKey(o.text) && n.text.startsWith(o.text.left(eq + 1));
            };
            while (j < now.size() && !kept(now[j]) && isNewLine(now[j].text))
                ++j;
            QVERIFY2(j < now.size() && kept(now[j]),
                     qPrintable(QStringLiteral("iteration %1: line %2 lost").arg(iteration)
                                    .arg(i)));
            ++j;
        }
        for (; j < now.size(); ++j)
            QVERIFY2(isNewLine(now[j].text),
                     qPrintable(QStringLiteral("iteration %1: stray line").arg(iteration)));
        previous = out.size() < 100000 ? out : QByteArray();
    }
}

QTEST_GUILESS_MAIN(TestProfileFile)
#include "tst_profilefile.moc"
