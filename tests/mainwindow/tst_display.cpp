// The measurement display: indicator looks, statistics panels and the
// thermometer column, checked pixel by pixel.

#include "windowtest.h"

#include <QCheckBox>
#include <QLabel>
#include <cmath>
#include <limits>

using namespace kp33;
using test::child;

namespace {

QImage indicator(TMain &w) { return child<ImageFrame>(&w, "FrameTemp")->image(); }
QImage thermometer(TMain &w) { return child<ImageFrame>(&w, "ThermP")->image(); }
QRgb rgb(int r, int g, int b) { return qRgb(r, g, b); }
QRgb at(const QImage &img, int x, int y) { return img.pixel(x, y) | 0xFF000000u; }

} // namespace

class TestDisplay : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void stoppedLook();
    void startingLook();
    void runningLook();
    void columnColourByBand_data();
    void columnColourByBand();
    void columnEnds_data();
    void columnEnds();
    void columnLeavesNothingBehind_data();
    void columnLeavesNothingBehind();
    void errorLookLeavesPanels();
    void drawsOnlyOnChange();
    void graphIsComposed();
};

void TestDisplay::initTestCase() { ApplyLookAndFeel(*qApp); }

void TestDisplay::stoppedLook()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    const TTemp &t = w.TempIndicator();
    QCOMPARE(t.Text, QStringLiteral("- - - °C"));
    QCOMPARE(t.FontSize, 36);
    QCOMPARE(t.BackColor, w.settings().StopColor);
    QCOMPARE(t.FontColor, w.settings().TempValueColor);
    for (const char *p : {"OutMIN", "OutAVG", "OutMAX"})
        QCOMPARE(child<QLabel>(&w, p)->text(), QStringLiteral("- - - °C  "));
    QCOMPARE(w.ApplicationTitle(), QStringLiteral("Термометр KP33"));
    const QImage ind = indicator(w);
    QCOMPARE(ind.size(), QSize(277, 69));
    QCOMPARE(at(ind, 0, 0), rgb(255, 206, 231)); // StopColor 0xE7CEFF
    // Some text pixels in the middle row, in the text colour (black).
    bool text = false;
    for (int x = 0; x < ind.width(); ++x)
        text = text || at(ind, x, 34) == rgb(0, 0, 0);
    QVERIFY(text);
    // Passive thermometer: empty tube, grey bulb with its shadow.
    const QImage th = thermometer(w);
    QCOMPARE(th.size(), QSize(73, 157));
    QCOMPARE(at(th, 53, 100), rgb(224, 224, 224));
    QCOMPARE(at(th, 53, 151), rgb(224, 224, 224));
    QCOMPARE(at(th, 63, 152), rgb(148, 148, 148));
    QCOMPARE(qAlpha(th.pixel(20, 20)), 0); // the scale picture shows through
}

void TestDisplay::startingLook()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    RunState = rsStarting;
    w.UpdateDisplay();
    QCOMPARE(w.TempIndicator().Text, QStringLiteral("Начало измерения..."));
    QCOMPARE(w.TempIndicator().FontSize, 12);
    QCOMPARE(w.TempIndicator().BackColor, w.settings().NormalColor);
    QCOMPARE(child<QLabel>(&w, "OutAVG")->text(), QStringLiteral("- - - °C  "));
    // Running but nothing stored yet (and an error): the indicator keeps its look.
    RunState = rsRunning;
    SensorError = true;
    w.UpdateDisplay();
    QCOMPARE(w.TempIndicator().Text, QStringLiteral("Начало измерения..."));
    RunState = rsStopped;
}

void TestDisplay::runningLook()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    history().StoreAndUpdate(20.0L);
    history().StoreAndUpdate(30.0L);
    history().StoreAndUpdate(22.25L);
    RunState = rsRunning;
    w.UpdateDisplay();
    QCOMPARE(w.TempIndicator().Text, QStringLiteral("22.3 °C"));
    QCOMPARE(w.TempIndicator().FontSize, 36);
    QCOMPARE(w.TempIndicator().BackColor, w.settings().NormalColor);
    QCOMPARE(child<QLabel>(&w, "OutMAX")->text(), QStringLiteral("30.0 °C  "));
    QCOMPARE(child<QLabel>(&w, "OutMIN")->text(), QStringLiteral("20.0 °C  "));
    QCOMPARE(child<QLabel>(&w, "OutAVG")->text(), QStringLiteral("25.0 °C  ")); // the midpoint
    // 22.25 °C: 7 + round(102.75 * 47 / 60) = 87.
    const QImage th = thermometer(w);
    QCOMPARE(at(th, 53, 100), rgb(0, 255, 0));
    QCOMPARE(at(th, 53, 88), rgb(0, 255, 0));
    QCOMPARE(at(th, 53, 80), rgb(224, 224, 224));
    QCOMPARE(at(th, 53, 151), rgb(0, 255, 0)); // the bulb
    RunState = rsStopped;
}

void TestDisplay::columnColourByBand_data()
{
    QTest::addColumn<bool>("control");
    QTest::addColumn<double>("t");
    QTest::addColumn<QRgb>("colour");
    QTest::newRow("below, control") << true << 19.9 << rgb(0, 0, 255);
    QTest::newRow("above, control") << true << 25.1 << rgb(255, 0, 0);
    QTest::newRow("at low limit") << true << 20.0 << rgb(0, 255, 0);
    QTest::newRow("at high limit") << true << 25.0 << rgb(0, 255, 0);
    QTest::newRow("below, no control") << false << 10.0 << rgb(0, 255, 0);
}

void TestDisplay::columnColourByBand()
{
    QFETCH(bool, control);
    QFETCH(double, t);
    QFETCH(QRgb, colour);
    test::WindowFixture fx;
    fx.writeIni(QByteArray("[DATA]\nSave=0\n[GENERAL]\nSignalUse=0\nControlT=") + (control ? "1" : "0") +
                "\n[LEVELS]\nLoL=20\nHiL=25\n");
    TMain w;
    QVERIFY(w.FormCreate());
    history().StoreAndUpdate(t);
    RunState = rsRunning;
    w.UpdateDisplay();
    QCOMPARE(at(thermometer(w), 53, 140), colour);
    QCOMPARE(at(thermometer(w), 53, 151), colour);
    RunState = rsStopped;
}

void TestDisplay::columnEnds_data()
{
    QTest::addColumn<double>("t");
    QTest::addColumn<int>("top"); // first row of colour
    QTest::newRow("125 reaches the top") << 125.0 << 7;
    QTest::newRow("125.5 is clamped") << 125.5 << 7;
    QTest::newRow("0") << 0.0 << 105; // 7 + round(125 * 47 / 60)
    QTest::newRow("-55 only the bulb") << -55.0 << 146;
}

void TestDisplay::columnEnds()
{
    QFETCH(double, t);
    QFETCH(int, top);
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[GENERAL]\nControlT=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    // A full column first, so the erase stroke has something to remove.
    history().StoreAndUpdate(125.0L);
    RunState = rsRunning;
    w.UpdateDisplay();
    history().StoreAndUpdate(t);
    w.UpdateDisplay();
    const QImage th = thermometer(w);
    QCOMPARE(at(th, 53, top), rgb(0, 255, 0));
    if (top > 7)
        QCOMPARE(at(th, 53, top - 2), rgb(224, 224, 224));
    RunState = rsStopped;
}

void TestDisplay::columnLeavesNothingBehind_data()
{
    // A temperature, or NaN for the stopped look, then another; the colour
    // of the first drawing must be gone from the thermometer after the second.
    QTest::addColumn<double>("first");
    QTest::addColumn<double>("then");
    QTest::addColumn<QRgb>("gone");
    const double stopped = std::numeric_limits<double>::quiet_NaN();
    QTest::newRow("stop after a green column") << 20.0 << stopped << rgb(0, 255, 0);
    QTest::newRow("stop after a red column") << 125.0 << stopped << rgb(255, 0, 0);
    QTest::newRow("-55 after a red column at 125") << 125.0 << -55.0 << rgb(255, 0, 0);
    QTest::newRow("-53 after a green column") << 20.0 << -53.0 << rgb(0, 255, 0);
    QTest::newRow("no bulb shadow in the active look") << stopped << 20.0 << rgb(148, 148, 148);
}

void TestDisplay::columnLeavesNothingBehind()
{
    QFETCH(double, first);
    QFETCH(double, then);
    QFETCH(QRgb, gone);
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n[GENERAL]\nSignalUse=0\nControlT=1\n[LEVELS]\nLoL=-50\nHiL=100\n");
    TMain w;
    QVERIFY(w.FormCreate());
    for (double t : {first, then}) {
        if (std::isnan(t)) {
            RunState = rsStopped;
        } else {
            history().StoreAndUpdate(t);
            RunState = rsRunning;
        }
        w.UpdateDisplay();
    }
    const QImage th = thermometer(w);
    for (int y = 0; y < th.height(); ++y)
        for (int x = 0; x < th.width(); ++x)
            if (qAlpha(th.pixel(x, y)) != 0 && at(th, x, y) == gone)
                QFAIL(qPrintable(QString("stale pixel at (%1, %2)").arg(x).arg(y)));
    RunState = rsStopped;
}

void TestDisplay::errorLookLeavesPanels()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    history().StoreAndUpdate(21.0L);
    RunState = rsRunning;
    w.UpdateDisplay();
    const QImage column = thermometer(w);
    SensorError = true;
    w.UpdateDisplay();
    QCOMPARE(w.TempIndicator().Text, QStringLiteral("Ошибка датчика!"));
    QCOMPARE(w.TempIndicator().FontSize, 12);
    QCOMPARE(w.TempIndicator().BackColor, w.settings().ErrorColor);
    QCOMPARE(child<QLabel>(&w, "OutMAX")->text(), QStringLiteral("21.0 °C  "));
    QCOMPARE(thermometer(w), column);
    SensorError = false;
    RunState = rsStopped;
}

void TestDisplay::drawsOnlyOnChange()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    const int before = w.indicatorDraws();
    w.SetFontSize(20);
    QCOMPARE(w.indicatorDraws(), before);
    w.SetBackColor(w.TempIndicator().BackColor);
    QCOMPARE(w.indicatorDraws(), before);
    w.SetBackColor(0x123456);
    QCOMPARE(w.indicatorDraws(), before + 1);
    w.SetText(w.TempIndicator().Text);
    QCOMPARE(w.indicatorDraws(), before + 2);
    w.UpdateDisplay(); // stopped: the background changes back and the text is set
    QCOMPARE(w.indicatorDraws(), before + 4);
}

void TestDisplay::graphIsComposed()
{
    test::WindowFixture fx;
    fx.writeIni("[DATA]\nSave=0\n");
    TMain w;
    QVERIFY(w.FormCreate());
    const QImage g = child<ImageFrame>(&w, "Bevel1")->image();
    QCOMPARE(g.size(), QSize(600, 218));
    QCOMPARE(at(g, 100, 100), rgb(0, 0, 0)); // the plot area
    // The window shows it at (17, 7): the frame's own (9, 7).
    const QImage shot = w.centralWidget()->grab().toImage();
    QCOMPARE(at(shot, 17 + 100, 7 + 100), rgb(0, 0, 0));
}

QTEST_MAIN(TestDisplay)
#include "tst_display.moc"
