// Number formatting, CRC-8 and the clock seam's fake clock.

#include "sensorbus/crc8.h"
#include "sensorbus/globals.h"
#include "sensorbus/txrx.h"
#include "support/testsupport.h"

#include <QtTest>
#include <clocale>

using namespace kp33;

class TestGlobals : public QObject {
    Q_OBJECT
private slots:
    void tempToStr_data();
    void tempToStr();
    void tempToStrIgnoresLocale();
    void crc8();
    void packBytes();
    void fakeClockWrapsAndCrossesMidnight();
};

void TestGlobals::tempToStr_data()
{
    QTest::addColumn<long double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("half up") << 22.25L << "22.3";
    QTest::newRow("negative half away from zero") << -10.125L << "-10.1";
    QTest::newRow("DS18B20 sixteenth") << 25.0625L << "25.1";
    QTest::newRow("negative half") << -0.25L << "-0.3";
    QTest::newRow("rounds to zero: no minus") << -0.04L << "0.0";
    QTest::newRow("negative zero") << -0.0L << "0.0";
    QTest::newRow("small negative reaches -0.1") << -0.05L << "-0.1";
    QTest::newRow("carry through nines") << 99.95L << "100.0";
    QTest::newRow("no reading") << NoTemp << "1000.0";
    QTest::newRow("bottom of range") << -55.0L << "-55.0";
    QTest::newRow("top of range") << 125.0L << "125.0";
    QTest::newRow("tiny") << 1e-30L << "0.0";
    QTest::newRow("large, no separator") << 1234567.89L << "1234567.9";
    // 0.1 * 3 is 0.30000000000000000001 in long double: the 18-digit step makes it 0.3.
    QTest::newRow("binary noise") << (0.1L * 3) << "0.3";
    QTest::newRow("demo curve") << 0.8963L << "0.9";
}

void TestGlobals::tempToStr()
{
    QFETCH(long double, value);
    QFETCH(QString, text);
    QCOMPARE(TempToStr(value), text);
}

void TestGlobals::tempToStrIgnoresLocale()
{
    // A Russian desktop prints 22,5 with printf; build that locale privately
    // (no system change) and make sure the formatter still writes a point.
    QTemporaryDir dir;
    QProcess localedef;
    localedef.start("localedef", {"-i", "ru_RU", "-f", "UTF-8", dir.filePath("ru_RU.UTF-8")});
    if (!localedef.waitForFinished(60000) || !QFile::exists(dir.filePath("ru_RU.UTF-8")))
        QSKIP("localedef (package locales) is not available");
    qputenv("LOCPATH", QFile::encodeName(dir.path()));
    const char *old = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = old ? old : "C";
    QVERIFY(std::setlocale(LC_NUMERIC, "ru_RU.UTF-8"));
    char probe[16];
    std::snprintf(probe, sizeof probe, "%.1f", 22.5);
    const QString text = TempToStr(22.25L);
    std::setlocale(LC_NUMERIC, saved.c_str());
    qunsetenv("LOCPATH");
    QCOMPARE(QString(probe), QStringLiteral("22,5")); // the locale really has a comma
    QCOMPARE(text, QStringLiteral("22.3"));
}

void TestGlobals::crc8()
{
    std::uint8_t crc = 0;
    for (char c : std::string("123456789"))
        crc = crc8Update(crc, static_cast<std::uint8_t>(c));
    QCOMPARE(crc, std::uint8_t(0xA1));

    const std::uint8_t rom[8] = {0x02, 0x1C, 0xB8, 0x01, 0x00, 0x00, 0x00, 0xA2};
    CRC8 = 0;
    for (int i = 0; i < 7; ++i)
        CRC8Add(rom[i]);
    QCOMPARE(CRC8, std::uint8_t(0xA2));
    CRC8Add(rom[7]);
    QCOMPARE(CRC8, std::uint8_t(0)); // a valid code folds to zero

    // Any single changed bit anywhere in the code is caught.
    for (int byte = 0; byte < 8; ++byte)
        for (int bit = 0; bit < 8; ++bit) {
            CRC8 = 0;
            for (int i = 0; i < 8; ++i)
                CRC8Add(static_cast<std::uint8_t>(rom[i] ^ (i == byte ? 1 << bit : 0)));
            QVERIFY2(CRC8 != 0, qPrintable(QString("byte %1 bit %2").arg(byte).arg(bit)));
        }

    // Eight bytes that timed out (0xFF) give 0xC9, so a ninth 0xFF never matches.
    CRC8 = 0;
    for (int i = 0; i < 8; ++i)
        CRC8Add(0xFF);
    QCOMPARE(CRC8, std::uint8_t(0xC9));
}

void TestGlobals::packBytes()
{
    QCOMPARE(PackBytes(0x28, 0xFF, 0x01, 0x80), 0x28FF0180u);
    static_assert(PackBytes(0xFF, 0xFF, 0xFF, 0xFF) == 0xFFFFFFFFu);
}

void TestGlobals::fakeClockWrapsAndCrossesMidnight()
{
    test::FakeClock fake(QDateTime(QDate(2026, 12, 7), QTime(23, 59, 59)), 0xFFFFFFF0u);
    test::ClockScope scope(&fake);
    const std::uint32_t t0 = theClock().tickCount();
    theClock().sleep(1500);
    QCOMPARE(theClock().tickCount() - t0, 1500u); // unsigned difference across the wrap
    QVERIFY(theClock().tickCount() < t0);
    QCOMPARE(theClock().now().date(), QDate(2026, 12, 8));
}

QTEST_GUILESS_MAIN(TestGlobals)
#include "tst_globals.moc"
