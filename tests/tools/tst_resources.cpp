// kp33-makeresources: it writes the same bytes every run, those bytes are what
// resources/ holds, and the pictures and the sound have the shape the program
// relies on (silver scale background, tube where the column is drawn, ticks on
// the column's rows, a two-tone alarm in a plain 8-bit WAVE).

#include <QDir>
#include <QFile>
#include <QImage>
#include <QProcess>
#include <QSet>
#include <QTemporaryDir>
#include <QXmlStreamReader>
#include <QtTest>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <string_view>

namespace {

const QStringList Outputs{QStringLiteral("kp33.png"),       QStringLiteral("kp33.ico"),
                          QStringLiteral("thermbg.png"),    QStringLiteral("warning.wav"),
                          QStringLiteral("chip.png"),       QStringLiteral("flag.png"),
                          QStringLiteral("thermbg@2x.png"), QStringLiteral("thermbg@3x.png"),
                          QStringLiteral("chip@2x.png"),    QStringLiteral("chip@3x.png"),
                          QStringLiteral("flag@2x.png"),    QStringLiteral("flag@3x.png")};

constexpr QRgb Silver = 0xFFC0C0C0;
constexpr QRgb Black = 0xFF000000;

// The alarm: 22 blocks of 2621 samples, high tone first.
constexpr int SampleRate = 11025;
constexpr int DataLen = 57662;
constexpr int BlockLen = 2621;
constexpr std::array<int, 2> Tones{880, 660};

struct Label {
    const char *text;
    int row;
};
constexpr std::array<Label, 8> Labels{
    {{"125.0", 6}, {"100.0", 26}, {"75.0", 45}, {"50.0", 65}, {"25.0", 84}, {"0.0", 104}, {"-25.0", 124}, {"-55.0", 147}}};
constexpr std::array<int, 9> MajorRows{6, 26, 45, 65, 84, 104, 124, 143, 147};

// Where the program puts the column top for a temperature (rounded half to even).
int columnRow(int t) { return 7 + static_cast<int>(std::lrint((125 - t) * 47 / 60.0)); }

QString committed(const QString &name) { return QDir(qEnvironmentVariable("KP33_RESOURCES_DIR")).filePath(name); }

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

quint32 le(const QByteArray &b, int at, int bytes)
{
    quint32 v = 0;
    for (int i = bytes - 1; i >= 0; --i)
        v = v << 8 | static_cast<quint8>(b.at(at + i));
    return v;
}

// Pixel-font text: glyphs 3 wide (the point 1) with a blank column between.
int labelWidth(std::string_view text)
{
    int w = -1;
    for (char ch : text)
        w += (ch == '.' ? 1 : 3) + 1;
    return w;
}

} // namespace

class TestResources : public QObject {
    Q_OBJECT

private:
    QTemporaryDir m_out;

    // Runs the tool; returns its exit code, or -1 if it did not finish normally.
    static int runTool(const QStringList &args, const QProcessEnvironment &env = QProcessEnvironment::systemEnvironment())
    {
        QProcess p;
        p.setProcessEnvironment(env);
        p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        p.start(qEnvironmentVariable("KP33_MAKERESOURCES"), args);
        if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit)
            return -1;
        return p.exitCode();
    }

private slots:
    void initTestCase()
    {
        QVERIFY2(QFileInfo(qEnvironmentVariable("KP33_MAKERESOURCES")).isExecutable(), "KP33_MAKERESOURCES not set");
        QVERIFY2(QFileInfo(committed(QStringLiteral("resources.qrc"))).isFile(), "KP33_RESOURCES_DIR not set");
        QVERIFY(m_out.isValid());
        QCOMPARE(runTool({m_out.path()}), 0);
    }

    void matchesCommittedFiles_data()
    {
        QTest::addColumn<QString>("name");
        for (const QString &name : Outputs)
            QTest::newRow(qPrintable(name)) << name;
    }
    void matchesCommittedFiles()
    {
        QFETCH(QString, name);
        const QByteArray fresh = readFile(QDir(m_out.path()).filePath(name));
        QVERIFY(!fresh.isEmpty());
        QVERIFY2(fresh == readFile(committed(name)),
                 "resources/ is out of date: build the kp33-update-resources target and commit the result");
    }

    // Without a display variable the tool still runs, and draws the same bytes.
    void sameBytesHeadlessAndAgain()
    {
        QTemporaryDir again;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("WAYLAND_DISPLAY"));
        QCOMPARE(runTool({again.path()}, env), 0);
        for (const QString &name : Outputs)
            QVERIFY2(readFile(QDir(again.path()).filePath(name)) == readFile(QDir(m_out.path()).filePath(name)),
                     qPrintable(name));
    }

    void rejectsBadArguments()
    {
        QVERIFY(runTool({}) > 0);
        // A folder that cannot exist: its parent is a file.
        QTemporaryDir tmp;
        QFile blocker(tmp.filePath(QStringLiteral("file")));
        QVERIFY(blocker.open(QIODevice::WriteOnly));
        blocker.close();
        QVERIFY(runTool({tmp.filePath(QStringLiteral("file/out"))}) > 0);
    }

    void qrcListsEveryResource()
    {
        QFile qrc(committed(QStringLiteral("resources.qrc")));
        QVERIFY(qrc.open(QIODevice::ReadOnly));
        QXmlStreamReader xml(&qrc);
        QMap<QString, QString> aliases;
        QString prefix;
        while (!xml.atEnd()) {
            if (xml.readNext() != QXmlStreamReader::StartElement)
                continue;
            if (xml.name() == QLatin1String("qresource"))
                prefix = xml.attributes().value(QLatin1String("prefix")).toString();
            if (xml.name() == QLatin1String("file")) {
                const QString alias = xml.attributes().value(QLatin1String("alias")).toString();
                aliases.insert(alias, xml.readElementText());
            }
        }
        QVERIFY2(!xml.hasError(), qPrintable(xml.errorString()));
        QCOMPARE(prefix, QStringLiteral("/"));
        const QMap<QString, QString> expected{{"kp33.png", "kp33.png"}, {"kp33.ico", "kp33.ico"},
                                              {"thermbg.png", "thermbg.png"},
                                              {"WARNING", "warning.wav"}, {"chip.png", "chip.png"},
                                              {"flag.png", "flag.png"}};
        QMap<QString, QString> withScaled = expected;
        for (const char *name : {"thermbg", "chip", "flag"})
            for (int scale : {2, 3}) {
                const QString file = QStringLiteral("%1@%2x.png").arg(QLatin1String(name)).arg(scale);
                withScaled.insert(file, file);
            }
        QCOMPARE(aliases, withScaled);
    }

    void wavHeader()
    {
        const QByteArray w = readFile(committed(QStringLiteral("warning.wav")));
        QCOMPARE(w.size(), 57706);
        QCOMPARE(w.left(4), QByteArray("RIFF"));
        QCOMPARE(le(w, 4, 4), 57698u);
        QCOMPARE(w.mid(8, 8), QByteArray("WAVEfmt "));
        QCOMPARE(le(w, 16, 4), 16u);
        QCOMPARE(le(w, 20, 2), 1u);     // PCM
        QCOMPARE(le(w, 22, 2), 1u);     // channels
        QCOMPARE(le(w, 24, 4), 11025u); // sample rate
        QCOMPARE(le(w, 28, 4), 11025u); // byte rate
        QCOMPARE(le(w, 32, 2), 1u);     // block align
        QCOMPARE(le(w, 34, 2), 8u);     // bits per sample
        QCOMPARE(w.mid(36, 4), QByteArray("data"));
        QCOMPARE(le(w, 40, 4), 57662u);
    }

    void wavAlternatesTwoTones()
    {
        const QByteArray w = readFile(committed(QStringLiteral("warning.wav")));
        QCOMPARE(w.size(), 44 + DataLen);
        const auto sample = [&](int i) { return static_cast<int>(static_cast<quint8>(w.at(44 + i))) - 128; };

        int peak = 0;
        for (int i = 0; i < DataLen; ++i)
            peak = std::max(peak, std::abs(sample(i)));
        // About 80 % of full scale: loud, and with room to spare before clipping.
        QVERIFY2(peak >= 96 && peak <= 108, qPrintable(QString::number(peak)));

        QCOMPARE(DataLen % BlockLen, 0);
        for (int b = 0; b < DataLen / BlockLen; ++b) {
            const int start = b * BlockLen;
            // Faded in and out, so the switch between tones does not click.
            QVERIFY2(std::abs(sample(start)) <= 2 && std::abs(sample(start + BlockLen - 1)) <= 2,
                     qPrintable(QStringLiteral("block %1 edge").arg(b)));
            int crossings = 0, last = 0;
            for (int i = start; i < start + BlockLen; ++i) {
                const int s = sample(i);
                if (s != 0) {
                    if (last != 0 && (s > 0) != (last > 0))
                        ++crossings;
                    last = s;
                }
            }
            const double hz = crossings / 2.0 * SampleRate / BlockLen;
            const int expected = Tones[b % 2];
            QVERIFY2(std::abs(hz - expected) < expected * 0.03,
                     qPrintable(QStringLiteral("block %1: %2 Hz, expected %3").arg(b).arg(hz).arg(expected)));
        }
    }

    void iconIsAFlatThermometer()
    {
        const QImage icon(committed(QStringLiteral("kp33.png")));
        QCOMPARE(icon.size(), QSize(32, 32));
        for (const QPoint p : {QPoint(0, 0), QPoint(31, 0), QPoint(0, 31), QPoint(31, 31)})
            QCOMPARE(qAlpha(icon.pixel(p)), 0);
        QSet<QRgb> colours;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                const QRgb c = icon.pixel(x, y);
                QVERIFY(qAlpha(c) == 0 || qAlpha(c) == 255);
                colours.insert(c);
            }
        QVERIFY(colours.size() <= 16);
        // Red column in the tube down into the bulb; glass above it.
        QCOMPARE(icon.pixel(16, 26), qRgb(255, 0, 0));
        QCOMPARE(icon.pixel(16, 15), qRgb(255, 0, 0));
        QVERIFY(qAlpha(icon.pixel(16, 4)) == 255 && qRed(icon.pixel(16, 4)) == qGreen(icon.pixel(16, 4)));
    }

    // Every size Windows asks for, each drawn at its size: a PNG entry of
    // that size (the 32 px one kp33.png itself), the entries laid end to end
    // after the directory, the same flat colours and the same design.
    void iconFileHoldsEverySize()
    {
        const QByteArray ico = readFile(committed(QStringLiteral("kp33.ico")));
        QVERIFY(ico.size() > 6);
        QCOMPARE(le(ico, 0, 2), 0u);
        QCOMPARE(le(ico, 2, 2), 1u); // an icon
        const QList<int> sizes{16, 20, 24, 32, 40, 48, 64, 256};
        QCOMPARE(le(ico, 4, 2), static_cast<quint32>(sizes.size()));
        const QImage designed(committed(QStringLiteral("kp33.png")));
        QSet<QRgb> palette;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                palette.insert(designed.pixel(x, y));
        quint32 next = 6 + 16 * sizes.size();
        for (int i = 0; i < sizes.size(); ++i) {
            const int size = sizes[i];
            const QString row = QStringLiteral("%1 px").arg(size);
            const int at = 6 + 16 * i;
            QCOMPARE(le(ico, at, 1), static_cast<quint32>(size % 256)); // 0 stands for 256
            QCOMPARE(le(ico, at + 1, 1), static_cast<quint32>(size % 256));
            QCOMPARE(le(ico, at + 4, 2), 1u);  // planes
            QCOMPARE(le(ico, at + 6, 2), 32u); // bits per pixel
            const quint32 bytes = le(ico, at + 8, 4), offset = le(ico, at + 12, 4);
            QVERIFY2(offset == next && offset + bytes <= static_cast<quint32>(ico.size()), qPrintable(row));
            next = offset + bytes;
            const QByteArray png = ico.mid(offset, bytes);
            QVERIFY2(png.startsWith("\x89PNG\r\n\x1a\n"), qPrintable(row));
            if (size == 32)
                QVERIFY(png == readFile(committed(QStringLiteral("kp33.png"))));
            const QImage image = QImage::fromData(png, "PNG");
            QCOMPARE(image.size(), QSize(size, size));
            for (int y = 0; y < size; ++y)
                for (int x = 0; x < size; ++x)
                    QVERIFY2(palette.contains(image.pixel(x, y)),
                             qPrintable(row + QStringLiteral(" (%1, %2)").arg(x).arg(y)));
            // Clear corners, a red bulb, the column red in the tube, black
            // outline on the bulb's bottom, where the design has them.
            const auto p = [&](double x, double y) { return image.pixel(int(x * size / 32), int(y * size / 32)); };
            for (const QPointF c : {QPointF(0, 0), QPointF(31.9, 0), QPointF(0, 31.9), QPointF(31.9, 31.9)})
                QVERIFY2(qAlpha(p(c.x(), c.y())) == 0, qPrintable(row));
            QVERIFY2(p(16.5, 27.5) == qRgb(255, 0, 0), qPrintable(row));
            QVERIFY2(p(15.5, 15) == qRgb(255, 0, 0), qPrintable(row));
            QVERIFY2(p(16.5, 4) == qRgb(192, 192, 192), qPrintable(row));
            int outline = 0;
            for (int y = size - 1; y >= 0 && image.pixel(size / 2, y) != qRgb(0, 0, 0); --y)
                ++outline;
            QVERIFY2(outline < size / 8, qPrintable(row + QStringLiteral(": no outline under the bulb")));
        }
        QCOMPARE(next, static_cast<quint32>(ico.size()));
    }

    void scaleBackgroundAndTube()
    {
        const QImage s(committed(QStringLiteral("thermbg.png")));
        QCOMPARE(s.size(), QSize(53, 156));
        QVERIFY(!s.hasAlphaChannel());
        for (const QPoint p : {QPoint(0, 0), QPoint(52, 0), QPoint(0, 155), QPoint(52, 155)})
            QCOMPARE(s.pixel(p), Silver);
        // Between the ticks and the tube, beside it, above it and where the
        // program draws the bulb: all silver, so all transparent.
        for (int y = 0; y < 156; ++y)
            for (int x = 33; x < 53; ++x)
                if (y == 0 || y > 146 || x < 36 || x > 50)
                    QVERIFY2(s.pixel(x, y) == Silver, qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
        // The straight part of the tube, which the column runs through.
        for (int y = 8; y <= 139; ++y) {
            QCOMPARE(s.pixel(36, y), qRgb(240, 240, 240));
            for (int x = 37; x <= 49; ++x)
                QCOMPARE(s.pixel(x, y), qRgb(224, 224, 224));
            QCOMPARE(s.pixel(50, y), qRgb(148, 148, 148));
        }
        QCOMPARE(s.pixel(43, 1), qRgb(240, 240, 240));
        QCOMPARE(s.pixel(43, 146), qRgb(148, 148, 148));
        // The column's top reaches row 7 at 125 degrees: inside the glass.
        for (int x = 42; x <= 44; ++x)
            QCOMPARE(s.pixel(x, 7), qRgb(224, 224, 224));
    }

    void scaleTicksOnColumnRows()
    {
        const QImage s(committed(QStringLiteral("thermbg.png")));
        QSet<int> minor;
        for (int t = 120; t >= -45; t -= 5)
            if (t % 25 != 0 && std::find(MajorRows.begin(), MajorRows.end(), columnRow(t)) == MajorRows.end())
                minor.insert(columnRow(t));
        QCOMPARE(minor.size(), 28);
        for (int y = 0; y < 156; ++y) {
            const bool major = std::find(MajorRows.begin(), MajorRows.end(), y) != MajorRows.end();
            const int from = major ? 28 : minor.contains(y) ? 30 : 33;
            for (int x = 26; x <= 35; ++x) {
                const QRgb want = x >= from && x <= 32 ? Black : Silver;
                QVERIFY2(s.pixel(x, y) == want, qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
            }
        }
    }

    void scaleLabelsRightAlignedAndCentred()
    {
        const QImage s(committed(QStringLiteral("thermbg.png")));
        QVector<bool> labelRow(156, false);
        for (const Label &l : Labels) {
            int left = 99, right = -1, top = 999, bottom = -1;
            for (int y = l.row - 3; y <= l.row + 3; ++y)
                for (int x = 0; x <= 25; ++x)
                    if (s.pixel(x, y) == Black) {
                        left = std::min(left, x), right = std::max(right, x);
                        top = std::min(top, y), bottom = std::max(bottom, y);
                    }
            QCOMPARE(right, 25);
            QCOMPARE(left, 26 - labelWidth(l.text));
            QCOMPARE(top, l.row - 2);
            QCOMPARE(bottom, l.row + 2);
            for (int y = top; y <= bottom; ++y)
                labelRow[y] = true;
        }
        for (int y = 0; y < 156; ++y)
            for (int x = 0; x <= 27; ++x)
                if (!labelRow[y] || x > 25)
                    QVERIFY2(s.pixel(x, y) == Silver, qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
    }

    void chipPicture()
    {
        const QImage c(committed(QStringLiteral("chip.png")));
        QCOMPARE(c.size(), QSize(142, 84));
        const QRgb face = qRgb(240, 240, 240);
        for (const QPoint p : {QPoint(0, 0), QPoint(141, 0), QPoint(0, 83), QPoint(141, 83)})
            QCOMPARE(c.pixel(p), face);
        QVERIFY(qGray(c.pixel(30, 30)) < 80); // dark body
        // Eight pins along each long side: eight runs of metal across a row.
        for (int y : {12, 72}) {
            int runs = 0;
            for (int x = 1; x < 142; ++x)
                if (c.pixel(x, y) != face && c.pixel(x - 1, y) == face)
                    ++runs;
            QVERIFY2(runs == 8, qPrintable(QStringLiteral("row %1: %2 pins").arg(y).arg(runs)));
        }
    }

    // The pictures for 2 and 3 device pixels per pixel: the plain picture's
    // figures at that size, drawn there. Straight edges and the pixel-font
    // digits are the plain pixels as whole squares; the tube's outline is as
    // deep as a pixel is wide and its rounded ends are drawn finer than a
    // stretched copy.
    void scaledPictures_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("scale");
        for (const char *name : {"thermbg", "chip", "flag"})
            for (int scale : {2, 3})
                QTest::addRow("%s@%dx", name, scale) << QString::fromLatin1(name) << scale;
    }
    void scaledPictures()
    {
        QFETCH(QString, name);
        QFETCH(int, scale);
        const QImage plain(committed(name + QStringLiteral(".png")));
        const QImage big(committed(QStringLiteral("%1@%2x.png").arg(name).arg(scale)));
        QCOMPARE(big.size(), plain.size() * scale);
        const QImage stretched = plain.scaled(big.size()); // nearest pixel
        const auto sameAsStretched = [&](QRect logical) {
            for (int y = logical.top() * scale; y < (logical.bottom() + 1) * scale; ++y)
                for (int x = logical.left() * scale; x < (logical.right() + 1) * scale; ++x)
                    if (big.pixel(x, y) != stretched.pixel(x, y))
                        return QStringLiteral("(%1, %2)").arg(x).arg(y);
            return QString();
        };
        if (name == QLatin1String("thermbg")) {
            // Digits and ticks, left of the tube.
            QCOMPARE(sameAsStretched({0, 0, 36, 156}), QString());
            for (int y = 8 * scale; y < 140 * scale; ++y)
                for (int x = 36 * scale; x < 51 * scale; ++x) {
                    const QRgb want = x < 37 * scale ? qRgb(240, 240, 240)
                                      : x >= 50 * scale ? qRgb(148, 148, 148) : qRgb(224, 224, 224);
                    QVERIFY2(big.pixel(x, y) == want, qPrintable(QStringLiteral("(%1, %2)").arg(x).arg(y)));
                }
            QVERIFY(!sameAsStretched({36, 0, 15, 8}).isEmpty()); // the rounded top
        } else if (name == QLatin1String("chip")) {
            // Shadow and pins are rectangles; the body's rounded corners are finer.
            QCOMPARE(sameAsStretched({0, 0, 142, 20}), QString());
            QVERIFY(!sameAsStretched({8, 22, 4, 4}).isEmpty());
        } else {
            QCOMPARE(sameAsStretched({0, 0, 70, 48}), QString());
        }
    }

    void flagStripes()
    {
        const QImage f(committed(QStringLiteral("flag.png")));
        QCOMPARE(f.size(), QSize(70, 48));
        for (int y = 0; y < 48; ++y)
            for (int x = 0; x < 70; ++x) {
                const QRgb p = f.pixel(x, y);
                if (x == 0 || y == 0 || x == 69 || y == 47) {
                    QVERIFY(qGray(p) < 80);
                    continue;
                }
                // Each stripe is a single colour.
                QCOMPARE(p, f.pixel(35, y / 16 * 16 + 8));
            }
        QCOMPARE(f.pixel(35, 8), qRgb(255, 255, 255));
        const QRgb blue = f.pixel(35, 24), red = f.pixel(35, 40);
        QVERIFY(qBlue(blue) > 128 && qRed(blue) < 64 && qGreen(blue) < 96);
        QVERIFY(qRed(red) > 160 && qGreen(red) < 64 && qBlue(red) < 64);
    }
};

QTEST_MAIN(TestResources)
#include "tst_resources.moc"
