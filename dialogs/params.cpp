#include "dialogs/params.h"

#include "dialogs/colordialogseam.h"
#include "dialogs/faces.h"
#include "dialogs/colorref.h"
#include "sensorbus/globals.h"

#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPainter>
#include <QPushButton>
#include <algorithm>
#include <functional>
#include <qdrawutil.h>

namespace kp33 {

namespace {

namespace ix = DisplayColorIndex;

struct SwatchPlace {
    const char *name;
    int group; // 1: GB1, 2: GB2
    QPoint at;
    const char *label;
    QRect labelGeometry;
    const char *text;
    std::size_t setting;
};

// In the order the dialog fills the swatches and OK copies them back.
constexpr SwatchPlace Swatches[] = {
    {"Temp", 1, {16, 24}, "Label1", {50, 30, 107, 13}, "Кривая температуры", ix::TempColor},
    {"UpT", 1, {16, 60}, "Label7", {50, 66, 81, 13}, "Верхний предел", ix::HPTColor},
    {"DownT", 1, {16, 96}, "Label8", {50, 102, 79, 13}, "Нижний предел", ix::LPTColor},
    {"ValueT", 2, {16, 22}, "Label6", {48, 28, 118, 13}, "Значение температуры", ix::TempValueColor},
    {"NormalT", 2, {16, 62}, "Label2", {48, 68, 131, 13}, "Допустимая температура", ix::NormalColor},
    {"LowerT", 2, {16, 102}, "Label3", {48, 108, 132, 13}, "Пониженная температура", ix::LoTColor},
    {"UpperT", 2, {16, 142}, "Label4", {48, 148, 134, 13}, "Повышенная температура", ix::HiTColor},
    {"PassiveT", 2, {16, 184}, "Label9", {48, 190, 95, 13}, "Пассивный режим", ix::StopColor},
    {"ErrorT", 2, {16, 222}, "Label5", {48, 228, 40, 13}, "Ошибка", ix::ErrorColor},
};

constexpr int SwatchSize = 25;
// Both bevels together; the colour fills what lies inside them.
constexpr int BevelWidth = 2;

QString SensorCaption(TSensorType type)
{
    switch (type) {
    case stDS1820:
        return QStringLiteral("Датчик DS1820");
    case stDS18S20:
        return QStringLiteral("Датчик DS18S20");
    case stDS18B20:
        return QStringLiteral("Датчик DS18B20");
    default:
        return QStringLiteral("Неизвестное устройство");
    }
}

QString Hex8(std::uint32_t word) { return QStringLiteral("%1").arg(word, 8, 16, QLatin1Char('0')).toUpper(); }

QLabel *label(QWidget *parent, const char *name, QRect geometry, const QString &text)
{
    auto *l = new QLabel(text, parent);
    l->setObjectName(QLatin1String(name));
    // The layout's widths are its captions' widths in the original face; a
    // caption a pixel or two wider in ours widens its label rather than lose
    // its last letter.
    const int inked = l->fontMetrics().boundingRect(text).right() + 1;
    l->setGeometry(geometry.adjusted(0, 0, std::max({0, l->sizeHint().width() - geometry.width(),
                                                     inked - geometry.width()}), 0));
    return l;
}

QGroupBox *group(QWidget *parent, const char *name, QRect geometry, const QString &title)
{
    auto *g = new QGroupBox(title, parent);
    g->setObjectName(QLatin1String(name));
    g->setGeometry(geometry);
    return g;
}

QPushButton *button(QWidget *parent, const char *name, QRect geometry, const QString &text)
{
    auto *b = new QPushButton(text, parent);
    b->setObjectName(QLatin1String(name));
    b->setGeometry(geometry);
    return b;
}

// A clear layer over the whole dialog that the dialog paints on. The group
// boxes shade their inside a little, which would tint a colour painted beneath
// them; above them each swatch shows exactly its colour. Clicks pass through.
class PaintLayer final : public QWidget {
public:
    PaintLayer(QWidget *parent, std::function<void(QPainter &)> paint) : QWidget(parent), m_paint(std::move(paint))
    {
        setObjectName(QStringLiteral("PaintLayer"));
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setFocusPolicy(Qt::NoFocus);
        setGeometry(parent->rect());
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter p(this);
        m_paint(p);
    }

private:
    std::function<void(QPainter &)> m_paint;
};

} // namespace

ColorSwatch::ColorSwatch(QWidget *parent, const char *name, QPoint at, std::uint32_t colour)
    : QWidget(parent), m_colour(colour)
{
    setObjectName(QLatin1String(name));
    setGeometry(QRect(at, QSize(SwatchSize, SwatchSize)));
    // Only a double-click changes a swatch; there is no keyboard path.
    setFocusPolicy(Qt::NoFocus);
}

void ColorSwatch::setColour(std::uint32_t colour)
{
    m_colour = colour;
    update();
}

void ColorSwatch::paintEvent(QPaintEvent *)
{
    QPainter p(this);
    if (!IsWinNT)
        p.fillRect(rect(), ColorFromRef(m_colour));
    qDrawShadePanel(&p, rect(), palette(), false, 1);
    qDrawShadePanel(&p, rect().adjusted(1, 1, -1, -1), palette(), true, 1);
}

void ColorSwatch::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        emit doubleClicked();
}

TParams::TParams(QWidget *parent, const DisplayColors &colours) : QDialog(parent), m_colours(colours)
{
    setObjectName(QStringLiteral("TParams"));
    setWindowTitle(QStringLiteral("Параметры датчика"));
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setFixedSize(418, 326);
    setFont(DesignFont(Face::MSSansSerif, 11));

    // Custom colours defined in the colour dialog belong to one opening.
    ResetCustomColors();

    GB1 = group(this, "GB1", {8, 8, 193, 137}, QStringLiteral("Цвета графика"));
    GB2 = group(this, "GB2", {216, 8, 193, 265}, QStringLiteral("Цвета индикатора"));
    SensorCOD = group(this, "SensorCOD", {8, 152, 193, 121}, SensorCaption(SensorType.load()));
    Label10 = label(SensorCOD, "Label10", {28, 36, 89, 13}, QStringLiteral("Серийный номер:"));
    EditSN = new QLineEdit(SensorCOD);
    EditSN->setObjectName(QStringLiteral("EditSN"));
    EditSN->setGeometry(28, 53, 137, 21);
    EditSN->setReadOnly(true);
    EditSN->setMaxLength(16);
    // Out of the Tab chain, but a click may still select the number to copy it.
    EditSN->setFocusPolicy(Qt::ClickFocus);
    QPalette snPalette = EditSN->palette();
    snPalette.setColor(QPalette::Base, snPalette.color(QPalette::Button));
    EditSN->setPalette(snPalette);

    for (std::size_t i = 0; i < std::size(Swatches); ++i) {
        const SwatchPlace &s = Swatches[i];
        QGroupBox *g = s.group == 1 ? GB1 : GB2;
        auto *swatch = new ColorSwatch(g, s.name, s.at, m_colours[s.setting]);
        connect(swatch, &ColorSwatch::doubleClicked, this, [this, swatch] { TDblClick(swatch); });
        m_swatches[i] = swatch;
        label(g, s.label, s.labelGeometry, QString::fromUtf8(s.text));
    }

    EditSN->setText(Hex8(SensorROM[0].load()) + Hex8(SensorROM[1].load()));

    BTN_OK = button(this, "BTN_OK", {103, 288, 75, 25}, QStringLiteral("&OK"));
    BTN_OK->setDefault(true);
    BTN_Cancel = button(this, "BTN_Cancel", {239, 288, 75, 25}, QStringLiteral("&Отмена"));
    connect(BTN_OK, &QPushButton::clicked, this, &TParams::BTN_OKClick);
    connect(BTN_Cancel, &QPushButton::clicked, this, &TParams::BTN_CancelClick);

    // Last, so it lies above every other control.
    m_layer = new PaintLayer(this, [this](QPainter &p) { FormPaint(p); });

    QWidget *order[] = {GB1, GB2, SensorCOD, BTN_OK, BTN_Cancel};
    for (std::size_t i = 1; i < std::size(order); ++i)
        QWidget::setTabOrder(order[i - 1], order[i]);
    BTN_OK->setFocus();
}

void TParams::TDblClick(ColorSwatch *sender)
{
    const std::optional<QColor> chosen = ChooseColor(this, ColorFromRef(sender->colour()));
    if (chosen && chosen->isValid()) {
        sender->setColour(RefFromColor(chosen->toRgb()));
        m_layer->update();
    }
}

void TParams::BTN_OKClick()
{
    for (std::size_t i = 0; i < std::size(Swatches); ++i)
        m_colours[Swatches[i].setting] = m_swatches[i]->colour();
    accept();
}

// Esc and the close box reject the dialog the same way: nothing is written.
void TParams::BTN_CancelClick() { reject(); }

void TParams::FormPaint(QPainter &p)
{
    // Where IsWinNT is set the swatches leave their inside to the dialog, so
    // the dialog paints each one's colour there.
    if (!IsWinNT)
        return;
    for (const ColorSwatch *s : m_swatches) {
        const QPoint at = s->parentWidget()->pos() + s->pos();
        const QRect inside(at + QPoint(BevelWidth, BevelWidth),
                           QSize(s->width() - 2 * BevelWidth, s->height() - 2 * BevelWidth));
        p.fillRect(inside, ColorFromRef(s->colour()));
    }
}

} // namespace kp33
