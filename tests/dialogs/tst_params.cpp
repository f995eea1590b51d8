// The sensor parameters and colours dialog: its layout, which swatch edits
// which setting, the ways it closes, the sensor group, the painting of the
// swatches, and the colour dialog behind its seam.

#include "dialogs/scaling.h"
#include "dialogs/colordialogseam.h"
#include "dialogs/colorref.h"
#include "dialogs/initsensor.h"
#include "dialogs/params.h"
#include "sensorbus/globals.h"
#include "support/testsupport.h"

#include <QColorDialog>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStyleFactory>
#include <QTimer>
#include <QtTest>
#include <memory>

using namespace kp33;
namespace ix = DisplayColorIndex;

namespace {

// Distinct, vivid colours, none like the dialog's grey; StopColor carries an
// upper byte that an untouched swatch must give back as it came.
const DisplayColors Base = {0x000080FFu, 0x00102030u, 0x00C4FFC4u, 0x01E7CEFFu, 0x00FFB7B7u,
                            0x00FFA953u, 0x00B366FFu, 0x00FF0000u, 0x000000FFu};

QList<quint32> list(const DisplayColors &c) { return QList<quint32>(c.begin(), c.end()); }

struct ChooserCall {
    QWidget *parent;
    QColor initial;
};

// Where each swatch sits on the dialog (its group's place plus its own) and
// the setting it edits.
struct SwatchAt {
    const char *name;
    QPoint at;
    std::size_t setting;
};
const SwatchAt SwatchPlaces[] = {
    {"Temp", {24, 32}, ix::TempColor},       {"UpT", {24, 68}, ix::HPTColor},
    {"DownT", {24, 104}, ix::LPTColor},      {"ValueT", {232, 30}, ix::TempValueColor},
    {"NormalT", {232, 70}, ix::NormalColor}, {"LowerT", {232, 110}, ix::LoTColor},
    {"UpperT", {232, 150}, ix::HiTColor},    {"PassiveT", {232, 192}, ix::StopColor},
    {"ErrorT", {232, 230}, ix::ErrorColor},
};

} // namespace

class TestParams : public QObject {
    Q_OBJECT
public:
    // The program's own scale rounding, before the application is made.
    static void initMain() { kp33::SetScaleRounding(); }

private slots:
    void initTestCase();
    void init();
    void cleanup();
    void layout_data();
    void layout();
    void windowFontsAndSerialEdit();
    void keyboard();
    void doubleClickEditsItsSetting_data();
    void doubleClickEditsItsSetting();
    void swatchKeepsColourUnlessConfirmed();
    void closing_data();
    void closing();
    void sensorGroup_data();
    void sensorGroup();
    void failedSearchShowsZeros();
    void painting_data();
    void painting();
    void customColoursForgotten();
    void realColourDialog_data();
    void realColourDialog();

private:
    QTemporaryDir m_config; // the user's configuration folder, shared by every Qt program
    std::unique_ptr<test::ProgramFolder> m_folder;
    QList<ChooserCall> m_calls;
    std::optional<QColor> m_answer;
    void answerWith(std::optional<QColor> answer);
};

void TestParams::initTestCase()
{
    // Before any QSettings exists: it keeps the first configuration folder it sees.
    QVERIFY(m_config.isValid());
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(m_config.path()));
    QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    QFont font(QStringLiteral("Liberation Sans"));
    font.setPixelSize(11);
    QApplication::setFont(font);
}

void TestParams::init()
{
    m_folder = std::make_unique<test::ProgramFolder>();
    m_calls.clear();
    IsWinNT = true;
    SensorType = stUnknown;
    SensorROM[0] = 0;
    SensorROM[1] = 0;
    answerWith(std::nullopt);
}

void TestParams::cleanup()
{
    SetColorChooser(nullptr);
    IsWinNT = true;
    m_folder.reset();
}

void TestParams::answerWith(std::optional<QColor> answer)
{
    m_answer = answer;
    SetColorChooser([this](QWidget *parent, const QColor &initial) {
        m_calls << ChooserCall{parent, initial};
        return m_answer;
    });
}

void TestParams::layout_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("parent");
    QTest::addColumn<QRect>("geometry");
    QTest::addColumn<QString>("text");
    auto row = [](const char *name, const char *parent, QRect g, const char *text) {
        QTest::newRow(name) << name << parent << g << QString::fromUtf8(text);
    };
    row("GB1", "TParams", {8, 8, 193, 137}, "Цвета графика");
    row("GB2", "TParams", {216, 8, 193, 265}, "Цвета индикатора");
    row("SensorCOD", "TParams", {8, 152, 193, 121}, "Неизвестное устройство");
    row("Label10", "SensorCOD", {28, 36, 89, 13}, "Серийный номер:");
    row("EditSN", "SensorCOD", {28, 53, 137, 21}, "0000000000000000");
    row("BTN_OK", "TParams", {103, 288, 75, 25}, "&OK");
    row("BTN_Cancel", "TParams", {239, 288, 75, 25}, "&Отмена");
    row("Label1", "GB1", {50, 30, 107, 13}, "Кривая температуры");
    row("Label7", "GB1", {50, 66, 81, 13}, "Верхний предел");
    row("Label8", "GB1", {50, 102, 79, 13}, "Нижний предел");
    row("Label6", "GB2", {48, 28, 118, 13}, "Значение температуры");
    row("Label2", "GB2", {48, 68, 131, 13}, "Допустимая температура");
    row("Label3", "GB2", {48, 108, 132, 13}, "Пониженная температура");
    row("Label4", "GB2", {48, 148, 134, 13}, "Повышенная температура");
    row("Label9", "GB2", {48, 190, 95, 13}, "Пассивный режим");
    row("Label5", "GB2", {48, 228, 40, 13}, "Ошибка");
}

void TestParams::layout()
{
    QFETCH(QString, name);
    QFETCH(QString, parent);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    TParams dlg(nullptr, Base);
    auto *w = dlg.findChild<QWidget *>(name);
    QVERIFY(w);
    QCOMPARE(w->parentWidget()->objectName(), parent);
    QString shown;
    if (auto *l = qobject_cast<QLabel *>(w)) {
        // A caption a little wider in our face than in the layout's widens its
        // label, so that it is never cut, and by no more than the faces differ.
        QCOMPARE(l->geometry().topLeft(), geometry.topLeft());
        QCOMPARE(l->height(), geometry.height());
        QVERIFY(l->width() >= geometry.width());
        QVERIFY(l->width() <= geometry.width() + 3);
        QVERIFY(l->width() >= l->fontMetrics().boundingRect(l->text()).right() + 1);
        shown = l->text();
    } else {
        QCOMPARE(w->geometry(), geometry);
    }
    if (auto *g = qobject_cast<QGroupBox *>(w))
        shown = g->title();
    else if (auto *b = qobject_cast<QPushButton *>(w))
        shown = b->text();
    else if (auto *e = qobject_cast<QLineEdit *>(w))
        shown = e->text();
    QCOMPARE(shown, text);
}

void TestParams::windowFontsAndSerialEdit()
{
    TParams dlg(nullptr, Base);
    QCOMPARE(dlg.windowTitle(), QStringLiteral("Параметры датчика"));
    QCOMPARE(dlg.minimumSize(), QSize(418, 326));
    QCOMPARE(dlg.maximumSize(), QSize(418, 326));
    QVERIFY(dlg.windowFlags() & Qt::WindowCloseButtonHint);
    QVERIFY(!(dlg.windowFlags() & (Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint)));
    for (QWidget *w : dlg.findChildren<QWidget *>()) {
        QCOMPARE(w->font().family(), QStringLiteral("Liberation Sans"));
        QCOMPARE(w->font().pixelSize(), 11);
        QVERIFY2(!w->font().bold(), qPrintable(w->objectName()));
    }
    auto *sn = dlg.findChild<QLineEdit *>("EditSN");
    QVERIFY(sn->isReadOnly());
    QCOMPARE(sn->maxLength(), 16);
    QVERIFY(!(sn->focusPolicy() & Qt::TabFocus));
    QCOMPARE(sn->palette().color(QPalette::Base), dlg.palette().color(QPalette::Button));
}

void TestParams::keyboard()
{
    // Focus starts on OK and Tab only ever moves between the two buttons:
    // the swatches and the serial number are no tab stops.
    TParams dlg(nullptr, Base);
    dlg.show();
    auto *ok = dlg.findChild<QPushButton *>("BTN_OK");
    auto *cancel = dlg.findChild<QPushButton *>("BTN_Cancel");
    QCOMPARE(dlg.focusWidget(), ok);
    QVERIFY(ok->isDefault());
    QTest::keyClick(ok, Qt::Key_Tab);
    QCOMPARE(dlg.focusWidget(), cancel);
    QTest::keyClick(cancel, Qt::Key_Tab);
    QCOMPARE(dlg.focusWidget(), ok);
    QTest::keyClick(ok, Qt::Key_Backtab);
    QCOMPARE(dlg.focusWidget(), cancel);
    for (const SwatchAt &s : SwatchPlaces)
        QCOMPARE(dlg.findChild<ColorSwatch *>(s.name)->focusPolicy(), Qt::NoFocus);
}

void TestParams::doubleClickEditsItsSetting_data()
{
    QTest::addColumn<QString>("swatch");
    QTest::addColumn<int>("setting");
    for (const SwatchAt &s : SwatchPlaces)
        QTest::newRow(s.name) << s.name << int(s.setting);
}

void TestParams::doubleClickEditsItsSetting()
{
    // Each swatch opens on its own setting and OK puts the chosen colour back
    // into that setting alone.
    QFETCH(QString, swatch);
    QFETCH(int, setting);
    const QColor chosen(0x12, 0x34, 0x56);
    answerWith(chosen);
    TParams dlg(nullptr, Base);
    dlg.show();
    auto *s = dlg.findChild<ColorSwatch *>(swatch);
    QCOMPARE(s->colour(), Base[setting]);
    QTest::mouseDClick(s, Qt::LeftButton, {}, QPoint(12, 12));
    QCOMPARE(m_calls.size(), 1);
    QCOMPARE(m_calls[0].parent, &dlg);
    QCOMPARE(m_calls[0].initial, ColorFromRef(Base[setting]));
    QCOMPARE(s->colour(), 0x563412u);
    QTest::mouseClick(dlg.findChild<QPushButton *>("BTN_OK"), Qt::LeftButton);
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    DisplayColors expected = Base;
    expected[setting] = 0x563412u;
    QCOMPARE(list(dlg.colours()), list(expected));
}

void TestParams::swatchKeepsColourUnlessConfirmed()
{
    TParams dlg(nullptr, Base);
    dlg.show();
    auto *value = dlg.findChild<ColorSwatch *>("ValueT");
    // A single click opens nothing.
    QTest::mouseClick(value, Qt::LeftButton);
    QCOMPARE(m_calls.size(), 0);
    // A cancelled colour dialog, and one answering nothing usable, change nothing.
    QTest::mouseDClick(value, Qt::LeftButton);
    answerWith(QColor());
    QTest::mouseDClick(value, Qt::LeftButton);
    QCOMPARE(m_calls.size(), 2);
    QCOMPARE(value->colour(), Base[ix::TempValueColor]);
    QTest::mouseClick(dlg.findChild<QPushButton *>("BTN_OK"), Qt::LeftButton);
    QCOMPARE(list(dlg.colours()), list(Base));
}

void TestParams::closing_data()
{
    QTest::addColumn<QString>("how");
    QTest::addColumn<bool>("accepted");
    QTest::newRow("OK") << "OK" << true;
    QTest::newRow("Enter") << "Enter" << true;
    QTest::newRow("Cancel") << "Cancel" << false;
    QTest::newRow("Esc") << "Esc" << false;
    QTest::newRow("close box") << "close" << false;
}

void TestParams::closing()
{
    QFETCH(QString, how);
    QFETCH(bool, accepted);
    answerWith(QColor(Qt::yellow));
    TParams dlg(nullptr, Base);
    dlg.show();
    QTest::mouseDClick(dlg.findChild<ColorSwatch *>("Temp"), Qt::LeftButton);
    QTest::mouseDClick(dlg.findChild<ColorSwatch *>("ErrorT"), Qt::LeftButton);
    if (how == "OK")
        QTest::mouseClick(dlg.findChild<QPushButton *>("BTN_OK"), Qt::LeftButton);
    else if (how == "Enter")
        QTest::keyClick(&dlg, Qt::Key_Return);
    else if (how == "Cancel")
        QTest::mouseClick(dlg.findChild<QPushButton *>("BTN_Cancel"), Qt::LeftButton);
    else if (how == "Esc")
        QTest::keyClick(&dlg, Qt::Key_Escape);
    else
        dlg.close();
    QVERIFY(!dlg.isVisible());
    QCOMPARE(dlg.result(), int(accepted ? QDialog::Accepted : QDialog::Rejected));
    DisplayColors expected = Base;
    if (accepted)
        expected[ix::TempColor] = expected[ix::ErrorColor] = 0x0000FFFFu;
    QCOMPARE(list(dlg.colours()), list(expected));
}

void TestParams::sensorGroup_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<quint32>("word1");
    QTest::addColumn<quint32>("word2");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("serial");
    // The search's own findings, from ROM codes in bus order.
    auto found = [](const char *name, std::array<std::uint8_t, 8> rom, const char *caption, const char *serial) {
        const RomFinding f = DescribeRom(rom.data());
        QTest::newRow(name) << int(f.type) << quint32(f.word1) << quint32(f.word2) << QString::fromUtf8(caption)
                            << QString::fromLatin1(serial);
    };
    found("DS18B20", {0x28, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x9E}, "Датчик DS18B20", "280605040302019E");
    found("DS1820", {0x10, 0xA1, 0xB2, 0xC3, 0xD4, 0x07, 0x00, 0x5C}, "Датчик DS1820", "100007D4C3B2A15C");
    found("DS18S20", {0x10, 0xA1, 0xB2, 0xC3, 0xD4, 0x08, 0x00, 0x5C}, "Датчик DS18S20", "100008D4C3B2A15C");
    found("other family", {0x22, 0xff, 0xee, 0xdd, 0xcc, 0xbb, 0xaa, 0x01}, "Неизвестное устройство",
          "22AABBCCDDEEFF01");
    QTest::newRow("leading zeros") << int(stDS18B20) << 0x1u << 0xABCu << "Датчик DS18B20" << "0000000100000ABC";
}

void TestParams::sensorGroup()
{
    QFETCH(int, type);
    QFETCH(quint32, word1);
    QFETCH(quint32, word2);
    QFETCH(QString, caption);
    QFETCH(QString, serial);
    SensorType = static_cast<TSensorType>(type);
    SensorROM[0] = word1;
    SensorROM[1] = word2;
    TParams dlg(nullptr, Base);
    QCOMPARE(dlg.findChild<QGroupBox *>("SensorCOD")->title(), caption);
    QCOMPARE(dlg.findChild<QLineEdit *>("EditSN")->text(), serial);
}

void TestParams::failedSearchShowsZeros()
{
    // A sensor was known; a new search on a port that will not open finds
    // nothing, and the dialog then shows no trace of the old sensor.
    SensorType = stDS18B20;
    SensorROM[0] = 0x28060504;
    SensorROM[1] = 0x0302019E;
    test::FakeClock clock;
    test::ClockScope scope(&clock);
    {
        TInitSensor search(nullptr, 1, [](std::uint8_t) { return false; });
        search.exec();
    }
    TParams dlg(nullptr, Base);
    QCOMPARE(dlg.findChild<QGroupBox *>("SensorCOD")->title(), QStringLiteral("Неизвестное устройство"));
    QCOMPARE(dlg.findChild<QLineEdit *>("EditSN")->text(), QStringLiteral("0000000000000000"));
}

void TestParams::painting_data()
{
    QTest::addColumn<bool>("winNT");
    QTest::newRow("NT family") << true;
    QTest::newRow("older Windows") << false;
}

void TestParams::painting()
{
    // Each swatch in its place. With IsWinNT the dialog itself fills its
    // inside (2 pixels in from every edge, right and bottom excluded); without
    // it the swatch fills itself. Either way the colour shows inside the bevels.
    QFETCH(bool, winNT);
    IsWinNT = winNT;
    answerWith(QColor(0x20, 0x40, 0x60));
    TParams dlg(nullptr, Base);
    dlg.show();
    QTest::mouseDClick(dlg.findChild<ColorSwatch *>("LowerT"), Qt::LeftButton);
    DisplayColors shown = Base;
    shown[ix::LoTColor] = 0x00604020u;

    // What the dialog paints, apart from its controls.
    QImage own(dlg.size(), QImage::Format_RGB32);
    own.fill(Qt::black);
    dlg.findChild<QWidget *>("PaintLayer")->render(&own, {}, {}, QWidget::RenderFlags());
    const QImage full = dlg.grab().toImage();
    const QRgb black = qRgb(0, 0, 0);
    for (const SwatchAt &s : SwatchPlaces) {
        const auto *swatch = dlg.findChild<ColorSwatch *>(s.name);
        QCOMPARE(QRect(swatch->mapTo(&dlg, QPoint()), swatch->size()), QRect(s.at, QSize(25, 25)));
        const QRgb colour = ColorFromRef(shown[s.setting]).rgb();
        const QPoint inside[] = {{2, 2}, {22, 2}, {2, 22}, {22, 22}, {12, 12}};
        const QPoint outside[] = {{1, 1}, {23, 12}, {12, 23}};
        for (QPoint p : inside) {
            QCOMPARE(own.pixel(s.at + p), winNT ? colour : black);
            QCOMPARE(full.pixel(s.at + p), colour);
        }
        for (QPoint p : outside) {
            QCOMPARE(own.pixel(s.at + p), black);
            QVERIFY2(full.pixel(s.at + p) != colour, s.name);
        }
    }
}

void TestParams::customColoursForgotten()
{
    QColorDialog::setCustomColor(0, Qt::red);
    QColorDialog::setCustomColor(QColorDialog::customCount() - 1, Qt::blue);
    TParams dlg(nullptr, Base);
    for (int i = 0; i < QColorDialog::customCount(); ++i)
        QCOMPARE(QColorDialog::customColor(i), QColor(Qt::white));
}

void TestParams::realColourDialog_data()
{
    QTest::addColumn<bool>("confirm");
    QTest::newRow("confirmed") << true;
    QTest::newRow("cancelled") << false;
}

void TestParams::realColourDialog()
{
    // The real dialog: preset to the swatch's colour, our own rather than the
    // desktop's, and only a confirmed choice comes back.
    QFETCH(bool, confirm);
    SetColorChooser(nullptr);
    TParams dlg(nullptr, Base);
    dlg.show();
    QColor seen;
    bool ownDialog = false, customAdded = false;
    QTimer::singleShot(0, this, [&] {
        auto *cd = qobject_cast<QColorDialog *>(QApplication::activeModalWidget());
        QVERIFY(cd);
        seen = cd->currentColor();
        ownDialog = cd->testOption(QColorDialog::DontUseNativeDialog);
        cd->setCurrentColor(QColor(0x11, 0x22, 0x33));
        // The user keeps the colour among the custom ones.
        for (auto *b : cd->findChildren<QPushButton *>())
            if (b->text().contains("Custom")) {
                b->click();
                customAdded = QColorDialog::customColor(0) == QColor(0x11, 0x22, 0x33);
            }
        confirm ? cd->accept() : cd->reject();
    });
    auto *swatch = dlg.findChild<ColorSwatch *>("NormalT");
    QTest::mouseDClick(swatch, Qt::LeftButton);
    QCOMPARE(seen, ColorFromRef(Base[ix::NormalColor]));
    QVERIFY(ownDialog);
    QVERIFY(customAdded);
    QCOMPARE(swatch->colour(), confirm ? 0x00332211u : Base[ix::NormalColor]);
    // Qt keeps custom colours in a file that every Qt program of the user
    // shares; this program's are forgotten instead, and nothing is written.
    QCOMPARE(QDir(m_config.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
}

QTEST_MAIN(TestParams)
#include "tst_params.moc"
