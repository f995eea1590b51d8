// The measurement display: indicator looks, statistics panels and the
// thermometer column, checked pixel by pixel.

#include "dialogs/scaling.h"
#include "windowtest.h"

#include "dialogs/initsensor.h"
#include "dialogs/params.h"
#include "dialogs/pzd.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QWindow>
#include <cmath>
#include <limits>

using namespace kp33;
using test::child;

namespace {

QImage indicator(TMain &w) { return child<ImageFrame>(&w, "FrameTemp")->image(); }
QImage thermometer(TMain &w) { return child<ImageFrame>(&w, "ThermP")->image(); }
QRgb rgb(int r, int g, int b) { return qRgb(r, g, b); }
QRgb at(const QImage &img, int x, int y) { return img.pixel(x, y) | 0xFF000000u; }

// The offscreen screens the suite runs with (screens.json): one per scale,
// told apart by their logical dots per inch.
QScreen *screenAt(int percent)
{
    for (QScreen *s : QGuiApplication::screens())
        if (s->name() == QStringLiteral("s%1").arg(percent))
            return s;
    return nullptr;
}

// Columns of a control's own drawing (no children) that hold text ink: a
// pixel at least half covered, in whatever colour the text has.
QVector<bool> inkColumns(QWidget *w, int width)
{
    const int ratio = static_cast<int>(w->devicePixelRatioF());
    const QSize design = w->size();
    w->resize(width, design.height());
    QImage image(QSize(width, design.height()) * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    w->render(&image, QPoint(), QRegion(), QWidget::RenderFlags());
    w->resize(design);
    QVector<bool> ink(image.width(), false);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb p = image.pixel(x, y);
            ink[x] = ink[x] || std::min({qRed(p), qGreen(p), qBlue(p)}) < 128;
        }
    return ink;
}

// Why a control's text does not fit its rectangle, or empty. Labels and
// check boxes are drawn as they draw themselves, in a copy made wider on the
// side their text runs out to: no ink may lie beyond their own width. Push
// buttons and group titles, whose text has room to spare, by their metrics.
QString clipOf(QWidget *w)
{
    constexpr int Spare = 20;
    const QFontMetrics fm(w->font());
    const int ratio = static_cast<int>(w->devicePixelRatioF());
    QString text;
    QRect room;
    bool drawn = true;
    bool rightAligned = false;
    if (auto *l = qobject_cast<QLabel *>(w)) {
        text = l->text();
        room = l->contentsRect();
        rightAligned = l->alignment() & Qt::AlignRight;
    } else if (qobject_cast<QCheckBox *>(w) || qobject_cast<QRadioButton *>(w)) {
        text = static_cast<QAbstractButton *>(w)->text();
        room = w->rect();
    } else if (auto *b = qobject_cast<QPushButton *>(w)) {
        QStyleOptionButton opt;
        opt.initFrom(b);
        opt.text = b->text();
        text = b->text();
        room = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
        drawn = false;
    } else if (auto *g = qobject_cast<QGroupBox *>(w)) {
        QStyleOptionGroupBox opt;
        opt.initFrom(g);
        opt.text = g->title();
        opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
        text = g->title();
        room = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
        drawn = false;
    }
    text.remove(QLatin1Char('&'));
    if (text.isEmpty())
        return {};
    const QString what = QStringLiteral("%1 \"%2\"").arg(w->objectName(), text);
    if (fm.height() > room.height())
        return what + QStringLiteral(": %1 px high in %2").arg(fm.height()).arg(room.height());
    if (!drawn) {
        if (fm.horizontalAdvance(text) > room.width() || room.right() >= w->width())
            return what + QStringLiteral(": %1 px in %2").arg(fm.horizontalAdvance(text)).arg(room.width());
        return {};
    }
    const QVector<bool> ink = inkColumns(w, w->width() + Spare);
    const int from = rightAligned ? 0 : w->width() * ratio;
    const int to = rightAligned ? Spare * ratio : ink.size();
    for (int x = from; x < to; ++x)
        if (ink[x])
            return what + QStringLiteral(": ink at device column %1 of %2").arg(rightAligned ? x - Spare * ratio : x)
                              .arg(w->width() * ratio);
    return {};
}

// Rows of exactly `ratio` device pixels of `colour` at every column of the
// span: a one-pixel line as wide all along. Gives the first column that
// differs, or -1.
int unevenColumn(const QImage &img, int row, int x0, int x1, int ratio, QRgb colour)
{
    for (int x = x0 * ratio; x < x1 * ratio; ++x) {
        int run = 0;
        for (int y = (row - 1) * ratio; y < (row + 2) * ratio; ++y)
            run += at(img, x, y) == colour;
        if (run != ratio)
            return x;
    }
    return -1;
}

} // namespace

class TestDisplay : public QObject {
    Q_OBJECT
public:
    // The program's own scale rounding, before the application is made.
    static void initMain() { kp33::SetScaleRounding(); }

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
    void scaledScreens_data();
    void scaledScreens();
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

// At 100, 125, 150 and 200 %: the ratio the rounding gives, every text of the
// main window and the three dialogs inside its rectangle, the drawings at
// device size with their lines as wide all along, and at 125 % the very
// pixels of 100 %.
void TestDisplay::scaledScreens_data()
{
    QTest::addColumn<int>("percent");
    QTest::addColumn<int>("ratio");
    QTest::addColumn<QString>("window");
    const std::pair<int, int> scales[] = {{100, 1}, {125, 1}, {150, 2}, {200, 2}};
    for (const auto &[percent, ratio] : scales)
        for (const char *window : {"TMain", "TInitSensor", "TParams", "TPZD"})
            QTest::addRow("%d%% %s", percent, window) << percent << ratio << QString::fromLatin1(window);
}

void TestDisplay::scaledScreens()
{
    QFETCH(int, percent);
    QFETCH(int, ratio);
    QFETCH(QString, window);
    QScreen *screen = screenAt(percent);
    QVERIFY2(screen, "the suite runs on the offscreen screens of screens.json");
    test::WindowFixture fx;
    fx.writeIni(QByteArray("[DATA]\nSave=0\n") + test::NoPortIni);
    std::unique_ptr<QWidget> w;
    TMain *main = nullptr;
    if (window == QLatin1String("TMain")) {
        w = std::make_unique<TMain>();
        main = static_cast<TMain *>(w.get());
        QVERIFY(main->FormCreate());
    } else if (window == QLatin1String("TInitSensor")) {
        w = std::make_unique<TInitSensor>(nullptr, 1, [](std::uint8_t) { return false; });
    } else if (window == QLatin1String("TParams")) {
        w = std::make_unique<TParams>(nullptr, DisplayColors{});
    } else {
        w = std::make_unique<TPZD>(nullptr, nullptr);
    }
    w->setScreen(screen);
    w->move(screen->geometry().topLeft() + QPoint(20, 20));
    if (main)
        QVERIFY(fx.showAndSettle(*main));
    else
        w->winId(); // a window on that screen, not shown: a search would start
    QCOMPARE(w->devicePixelRatioF(), qreal(ratio));

    QStringList clipped;
    for (QWidget *c : w->findChildren<QWidget *>())
        if (const QString why = clipOf(c); !why.isEmpty())
            clipped << why;
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral("; "))));
    if (!main)
        return;

    const QImage ind = indicator(*main), th = thermometer(*main);
    const QImage graph = child<ImageFrame>(main, "Bevel1")->image();
    QCOMPARE(ind.size(), QSize(277, 69) * ratio);
    QCOMPARE(th.size(), QSize(73, 157) * ratio);
    QCOMPARE(graph.size(), QSize(600, 218) * ratio);
    QCOMPARE(child<QLabel>(main, "ThermBG")->pixmap().size(), QSize(53, 156) * ratio);
    for (const QImage *img : {&ind, &th, &graph})
        QCOMPARE(img->devicePixelRatio(), qreal(ratio));
    // The graph's grid: a row line and a column line, stepped pixel by pixel.
    const QRgb grid = rgb(192, 192, 192);
    QCOMPARE(unevenColumn(graph, 6 + 41, 41, 150, ratio, grid), -1);
    const QImage across = graph.transformed(QTransform(0, 1, 1, 0, 0, 0)); // rows become columns
    QCOMPARE(unevenColumn(across, 40 + 111, 7, 47, ratio, grid), -1); // up to the first row line
    // The empty tube, a round-capped 3-pixel pen: three pixels wide all along.
    for (int y = 8 * ratio; y < 145 * ratio; ++y) {
        int run = 0;
        for (int x = 50 * ratio; x < 57 * ratio; ++x)
            run += at(th, x, y) == rgb(224, 224, 224);
        QVERIFY2(run == 3 * ratio, qPrintable(QStringLiteral("row %1: %2").arg(y).arg(run)));
    }
    if (ratio == 1) {
        // 125 % shows the pixels of 100 %.
        test::WindowFixture plainFx;
        plainFx.writeIni("[DATA]\nSave=0\n");
        TMain plain;
        QVERIFY(plain.FormCreate());
        QCOMPARE(indicator(plain), ind);
        QCOMPARE(thermometer(plain), th);
        QCOMPARE(child<ImageFrame>(&plain, "Bevel1")->image(), graph);
    } else {
        // The digits are drawn at device resolution: somewhere a pixel
        // differs from its neighbour inside one layout pixel's square, which
        // a stretched picture never has.
        bool fine = false;
        for (int y = 0; y + 1 < ind.height() && !fine; y += ratio)
            for (int x = 0; x + 1 < ind.width() && !fine; x += ratio)
                fine = ind.pixel(x, y) != ind.pixel(x + 1, y) || ind.pixel(x, y) != ind.pixel(x, y + 1);
        QVERIFY(fine);
        // Taken to the 100 % screen, as a window dragged there: composed
        // again at ratio 1, and a text grown for ratio 2 has its design width.
        main->windowHandle()->setScreen(screenAt(100));
        QTRY_COMPARE(indicator(*main).devicePixelRatio(), 1.0);
        QCOMPARE(indicator(*main).size(), QSize(277, 69));
        QCOMPARE(thermometer(*main).size(), QSize(73, 157));
        QCOMPARE(child<ImageFrame>(main, "Bevel1")->image().size(), QSize(600, 218));
        QCOMPARE(child<QLabel>(main, "ThermBG")->pixmap().devicePixelRatio(), 1.0);
        QCOMPARE(child<QLabel>(main, "MaxT")->width(), 45);
    }
}

QTEST_MAIN(TestDisplay)
#include "tst_display.moc"
