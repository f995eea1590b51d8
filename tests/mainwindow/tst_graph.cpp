// The temperature graph, checked pixel by pixel in the image it returns.

#include "dialogs/scaling.h"
#include "mainwindow/graph.h"

#include <QApplication>
#include <QtTest>
#include <vector>

using namespace kp33;

namespace {

const QColor Face(212, 208, 200);
const QColor Grey(192, 192, 192);
const QColor Black(0, 0, 0);
const QColor TempC(255, 128, 0); // 0x000080FF
const QColor LowC(0, 0, 255);    // 0x00FF0000
const QColor HighC(255, 0, 0);   // 0x000000FF

// Fixed bounds 0..40 put these values on rows clear of the grid rows.
constexpr int Row5 = 185, Row10 = 160, Row15 = 134, Row20 = 108, Row30 = 57, Row35 = 32;

// temps newest first; every entry gets the limits lol and hil.
GraphInputs Inputs(const std::vector<long double> &temps, long double lol = 5, long double hil = 35)
{
    GraphInputs in;
    in.autoScale = false;
    in.loT = 0;
    in.hiT = 40;
    in.tempColor = 0x000080FF;
    in.lptColor = 0x00FF0000;
    in.hptColor = 0x000000FF;
    in.buttonFace = Face;
    in.font = QApplication::font();
    HistorySnapshot &s = in.snapshot;
    s.SampleCount = std::uint8_t(temps.size());
    s.SampleIndex = std::uint8_t(temps.size() % HistorySize);
    for (std::size_t j = 0; j < temps.size(); ++j) {
        s.History[j] = {temps[j], lol, hil};
        s.MaxTemp = j == 0 ? temps[j] : std::max(s.MaxTemp, temps[j]);
        s.MinTemp = j == 0 ? temps[j] : std::min(s.MinTemp, temps[j]);
    }
    return in;
}

std::vector<long double> Flat(int n, long double v) { return std::vector<long double>(std::size_t(n), v); }

// The columns of row y that hold colour c.
QList<int> ColumnsOf(const QImage &img, int y, const QColor &c)
{
    QList<int> xs;
    for (int x = 0; x < img.width(); ++x)
        if (img.pixelColor(x, y) == c)
            xs.append(x);
    return xs;
}

int Count(const QImage &img, const QColor &c, QRect area = QRect(0, 0, GraphWidth, GraphHeight))
{
    area &= img.rect();
    int count = 0;
    for (int y = area.top(); y <= area.bottom(); ++y)
        for (int x = area.left(); x <= area.right(); ++x)
            count += img.pixelColor(x, y) == c;
    return count;
}

QList<int> Range(int from, int to)
{
    QList<int> xs;
    for (int x = from; x <= to; ++x)
        xs.append(x);
    return xs;
}

} // namespace

class TestGraph : public QObject {
    Q_OBJECT
public:
    // The program's own scale rounding, before the application is made.
    static void initMain() { kp33::SetScaleRounding(); }


private slots:
    void initTestCase()
    {
        QFont f(QStringLiteral("Liberation Sans"));
        f.setPixelSize(11);
        QApplication::setFont(f);
    }

    void graphY_data()
    {
        QTest::addColumn<double>("v");
        QTest::addColumn<double>("lo");
        QTest::addColumn<double>("hi");
        QTest::addColumn<int>("y");
        QTest::newRow("high bound on the top row") << 30.0 << 10.0 << 30.0 << 6;
        QTest::newRow("low bound on the bottom row") << 10.0 << 10.0 << 30.0 << 211;
        QTest::newRow("half way, 108.5 to even") << 20.0 << 10.0 << 30.0 << 108;
        QTest::newRow("210.5 to even") << 0.5 << 0.0 << 205.0 << 210;
        QTest::newRow("209.5 to even") << 1.5 << 0.0 << 205.0 << 210;
        QTest::newRow("5.4 rounds to the frame row") << 205.6 << 0.0 << 205.0 << 5;
        QTest::newRow("above clamps to 5") << 35.0 << 10.0 << 30.0 << 5;
        QTest::newRow("below clamps to 212") << -100.0 << 10.0 << 30.0 << 212;
        QTest::newRow("+inf") << qInf() << 10.0 << 30.0 << 5;
        QTest::newRow("-inf") << -qInf() << 10.0 << 30.0 << 212;
        QTest::newRow("bounds meet") << 20.0 << 20.0 << 20.0 << GraphMiddleRow;
        QTest::newRow("bounds cross") << 20.0 << 30.0 << 10.0 << GraphMiddleRow;
        QTest::newRow("NaN value") << qQNaN() << 10.0 << 30.0 << GraphMiddleRow;
        QTest::newRow("NaN bound") << 20.0 << qQNaN() << 30.0 << GraphMiddleRow;
        QTest::newRow("infinite span") << 20.0 << -qInf() << 30.0 << GraphMiddleRow;
    }
    void graphY()
    {
        QFETCH(double, v);
        QFETCH(double, lo);
        QFETCH(double, hi);
        QFETCH(int, y);
        QCOMPARE(GraphY(v, lo, hi), y);
    }

    void labels_data()
    {
        QTest::addColumn<bool>("autoScale");
        QTest::addColumn<double>("minT");
        QTest::addColumn<double>("maxT");
        QTest::addColumn<QStringList>("labels");
        QTest::newRow("autoscale, both extremes 20.0")
            << true << 20.0 << 20.0 << QStringList{"20.5", "20.3", "20.1", "19.9", "19.7", "19.5"};
        QTest::newRow("autoscale, empty-history placeholders")
            << true << -55.0 << 125.0 << QStringList{"125.0", "89.0", "53.0", "17.0", "-19.0", "-55.0"};
        QTest::newRow("autoscale, only the low end clamped")
            << true << -60.0 << 0.0 << QStringList{"0.5", "-10.6", "-21.7", "-32.8", "-43.9", "-55.0"};
        QTest::newRow("autoscale, only the high end clamped")
            << true << 100.0 << 130.0 << QStringList{"125.0", "119.9", "114.8", "109.7", "104.6", "99.5"};
        QTest::newRow("fixed 10..30 ignores the extremes")
            << false << 20.0 << 20.0 << QStringList{"30.0", "26.0", "22.0", "18.0", "14.0", "10.0"};
    }
    void labels()
    {
        QFETCH(bool, autoScale);
        QFETCH(double, minT);
        QFETCH(double, maxT);
        QFETCH(QStringList, labels);
        GraphInputs in = Inputs({});
        in.autoScale = autoScale;
        in.loT = 10;
        in.hiT = 30;
        in.snapshot.MinTemp = minT;
        in.snapshot.MaxTemp = maxT;
        const GraphBounds b = GraphBoundsOf(in);
        const std::array<QString, 6> got = GraphLabels(b.lo, b.hi);
        QCOMPARE(QStringList(got.begin(), got.end()), labels);
    }

    // Each label stands in its row, black on the button face, its right edge
    // just short of x = 25 and clear of the tick.
    void labelPixels()
    {
        const QImage img = DrawGraph(Inputs({}));
        const int h = QFontMetrics(QApplication::font()).height();
        for (int i = 0; i < 6; ++i) {
            const QRect box(0, 41 * i, 33, h);
            int right = -1;
            for (int y = box.top(); y <= box.bottom(); ++y)
                for (int x = box.left(); x <= box.right(); ++x) {
                    const QColor c = img.pixelColor(x, y);
                    QVERIFY2(c == Face || c == Black, qPrintable(QString("label %1 at %2,%3").arg(i).arg(x).arg(y)));
                    if (c == Black)
                        right = std::max(right, x);
                }
            QVERIFY2(right >= 21 && right <= 24, qPrintable(QString("label %1 ends at %2").arg(i).arg(right)));
        }
    }

    void layout_data()
    {
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("plot inside") << QPoint(100, 30) << Black;
        QTest::newRow("plot bottom right corner") << QPoint(599, 211) << Black;
        QTest::newRow("grid row") << QPoint(100, 47) << Grey;
        QTest::newRow("grid row, last pixel") << QPoint(598, 170) << Grey;
        QTest::newRow("grid row, end point left out") << QPoint(599, 88) << Black;
        QTest::newRow("grid column") << QPoint(151, 30) << Grey;
        QTest::newRow("grid column beside") << QPoint(152, 30) << Black;
        QTest::newRow("grid column, bottom pixel") << QPoint(484, 211) << Grey;
        QTest::newRow("grid column, top pixel") << QPoint(262, 6) << Grey;
        QTest::newRow("grid column at the left edge") << QPoint(40, 100) << Grey;
        QTest::newRow("frame top") << QPoint(151, 5) << Face;
        QTest::newRow("frame bottom") << QPoint(151, 212) << Face;
        QTest::newRow("frame left") << QPoint(39, 100) << Face;
        QTest::newRow("tick start") << QPoint(33, 129) << Black;
        QTest::newRow("tick last pixel") << QPoint(37, 6) << Black;
        QTest::newRow("tick end point left out") << QPoint(38, 211) << Face;
        QTest::newRow("between label and tick") << QPoint(29, 47) << Face;
    }
    void layout()
    {
        QFETCH(QPoint, at);
        QFETCH(QColor, colour);
        const QImage img = DrawGraph(Inputs({}));
        QCOMPARE(img.size(), QSize(600, 218));
        QCOMPARE(img.pixelColor(at), colour);
    }

    // With fewer than two samples there is no segment to draw.
    void noCurve_data()
    {
        QTest::addColumn<int>("n");
        QTest::newRow("empty") << 0;
        QTest::newRow("one sample") << 1;
    }
    void noCurve()
    {
        QFETCH(int, n);
        GraphInputs in = Inputs(Flat(n, 20));
        in.autoScale = true;
        const QImage img = DrawGraph(in);
        const QRect plot(40, 6, 560, 206);
        QCOMPARE(Count(img, Black, plot) + Count(img, Grey, plot), 560 * 206);
    }

    // The newest sample at the right end (x = 596 once the history is full),
    // the oldest at x = 40.
    void placement_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("newestX");
        QTest::newRow("2") << 2 << 44;
        QTest::newRow("50") << 50 << 236;
        QTest::newRow("139") << 139 << 592;
        QTest::newRow("140") << 140 << 596;
    }
    void placement()
    {
        QFETCH(int, n);
        QFETCH(int, newestX);
        std::vector<long double> temps = Flat(n, 20);
        temps.front() = 30;
        temps.back() = 10;
        const QImage img = DrawGraph(Inputs(temps));
        QCOMPARE(img.pixelColor(newestX, Row30), TempC);
        QCOMPARE(img.pixelColor(42, Row10), TempC); // the thick curve ends 2 px short
        QCOMPARE(Count(img, TempC, QRect(newestX + 2, 0, GraphWidth, GraphHeight)), 0);
        // 1-pixel lines: the oldest point (40) is every segment's left-out end.
        QCOMPARE(ColumnsOf(img, Row5, LowC), Range(41, newestX));
        QCOMPARE(ColumnsOf(img, Row35, HighC), Range(41, newestX));
    }

    void controlT_data()
    {
        QTest::addColumn<bool>("controlT");
        QTest::newRow("ticked") << true;
        QTest::newRow("unticked") << false;
    }
    void controlT()
    {
        QFETCH(bool, controlT);
        GraphInputs in = Inputs(Flat(10, 20));
        in.controlT = controlT;
        const QImage img = DrawGraph(in);
        QVERIFY(Count(img, TempC) > 0);
        QCOMPARE(Count(img, LowC) > 0, controlT);
        QCOMPARE(Count(img, HighC) > 0, controlT);
    }

    // Each sample keeps the limits that were in force when it was taken.
    void limitStep_data()
    {
        QTest::addColumn<bool>("low");
        QTest::addColumn<int>("newRow");
        QTest::addColumn<int>("oldRow");
        QTest::newRow("low limit raised from 5 to 15") << true << Row15 << Row5;
        QTest::newRow("high limit lowered from 35 to 30") << false << Row30 << Row35;
    }
    void limitStep()
    {
        QFETCH(bool, low);
        QFETCH(int, newRow);
        QFETCH(int, oldRow);
        GraphInputs in = Inputs(Flat(100, 25));
        for (int j = 0; j < 50; ++j) // entries 1..50, x 240..436
            (low ? in.snapshot.History[j].LoL : in.snapshot.History[j].HiL) = low ? 15 : 30;
        const QImage img = DrawGraph(in);
        const QColor c = low ? LowC : HighC;
        QCOMPARE(img.pixelColor(300, newRow), c);
        QCOMPARE(img.pixelColor(200, oldRow), c);
        QCOMPARE(img.pixelColor(300, oldRow), Black);
        QCOMPARE(img.pixelColor(200, newRow), Black);
        // The riser between entries 51 (x 236) and 50 (x 240) covers every row between.
        const int top = std::min(newRow, oldRow) + 1, bottom = std::max(newRow, oldRow) - 1;
        for (int y = top; y <= bottom; ++y)
            QVERIFY2(Count(img, c, QRect(236, y, 5, 1)) > 0, qPrintable(QString("row %1").arg(y)));
    }

    // Off-scale stretches run along the border; the frame covers their middle row.
    void offScale_data()
    {
        QTest::addColumn<double>("t");
        QTest::addColumn<int>("frameRow");
        QTest::newRow("35 above 10..30") << 35.0 << 5;
        QTest::newRow("5 below 10..30") << 5.0 << 212;
    }
    void offScale()
    {
        QFETCH(double, t);
        QFETCH(int, frameRow);
        GraphInputs in = Inputs(Flat(5, t));
        in.loT = 10;
        in.hiT = 30;
        in.controlT = false;
        const QImage img = DrawGraph(in);
        QCOMPARE(Count(img, Face, QRect(39, frameRow, 561, 1)), 561);
        QVERIFY(Count(img, TempC, QRect(40, frameRow - 1, 20, 1)) > 0);
        QVERIFY(Count(img, TempC, QRect(40, frameRow + 1, 20, 1)) > 0);
    }

    void gridScroll_data()
    {
        QTest::addColumn<int>("n");
        QTest::addColumn<int>("k");
        QTest::addColumn<int>("s");
        QTest::addColumn<QList<int>>("columns");
        const QList<int> still{40, 151, 262, 373, 484};
        QTest::newRow("empty") << 0 << 0 << 0 << still;
        QTest::newRow("138 samples do not scroll") << 138 << 138 << 0 << still;
        QTest::newRow("139 samples scroll") << 139 << 139 << 1 << QList<int>{150, 261, 372, 483, 594};
        QTest::newRow("140 at index 0") << 140 << 0 << 0 << still;
        QTest::newRow("140 at index 1") << 140 << 1 << 4 << QList<int>{147, 258, 369, 480, 591};
        QTest::newRow("140 at index 27") << 140 << 27 << 108 << QList<int>{43, 154, 265, 376, 487};
        QTest::newRow("140 at index 28 wraps") << 140 << 28 << 1 << QList<int>{150, 261, 372, 483, 594};
    }
    void gridScroll()
    {
        QFETCH(int, n);
        QFETCH(int, k);
        QFETCH(int, s);
        QFETCH(QList<int>, columns);
        QCOMPARE(GridPhase(n, k), s);
        GraphInputs in = Inputs(Flat(n, 5));
        in.snapshot.SampleIndex = std::uint8_t(k);
        in.controlT = false;
        QCOMPARE(ColumnsOf(DrawGraph(in), 30, Grey), columns);
    }

    // Bounds that give no scale: the curve lies on the middle row, nothing crashes.
    void noScale_data()
    {
        QTest::addColumn<bool>("autoScale");
        QTest::addColumn<double>("t");
        QTest::addColumn<double>("loT");
        QTest::addColumn<double>("hiT");
        QTest::newRow("every sample 125.5: bounds meet") << true << 125.5 << 0.0 << 0.0;
        QTest::newRow("every sample 130: bounds cross") << true << 130.0 << 0.0 << 0.0;
        QTest::newRow("every sample -60: bounds cross") << true << -60.0 << 0.0 << 0.0;
        QTest::newRow("NaN samples") << true << qQNaN() << 0.0 << 0.0;
        QTest::newRow("fixed bounds equal") << false << 20.0 << 20.0 << 20.0;
        QTest::newRow("fixed bounds crossed") << false << 20.0 << 30.0 << 10.0;
        QTest::newRow("fixed bound NaN") << false << 20.0 << qQNaN() << 30.0;
    }
    void noScale()
    {
        QFETCH(bool, autoScale);
        QFETCH(double, t);
        QFETCH(double, loT);
        QFETCH(double, hiT);
        GraphInputs in = Inputs(Flat(5, t), t, t);
        in.autoScale = autoScale;
        in.loT = loT;
        in.hiT = hiT;
        const QImage img = DrawGraph(in);
        QCOMPARE(img.pixelColor(56, GraphMiddleRow - 1), TempC);
        QCOMPARE(img.pixelColor(50, GraphMiddleRow), HighC);
        const QRect band(0, GraphMiddleRow - 2, GraphWidth, 5);
        QCOMPARE(Count(img, TempC, band), Count(img, TempC));
        QCOMPARE(Count(img, HighC, band), Count(img, HighC));
    }

    // A count beyond the history's size draws as a full history.
    void oversizedCount()
    {
        GraphInputs in = Inputs(Flat(140, 20));
        in.snapshot.SampleCount = 255;
        const QImage img = DrawGraph(in);
        QCOMPARE(img.pixelColor(596, Row20), TempC);
        QCOMPARE(Count(img, TempC, QRect(598, 0, 2, GraphHeight)), 0);
    }
};

QTEST_MAIN(TestGraph)
#include "tst_graph.moc"
