#include "dialogs/scaling.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QPainter>
#include <QRadioButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QVariant>
#include <algorithm>
#include <cmath>

namespace kp33 {

void SetScaleRounding()
{
    // The layout is a fixed pixel design. With whole ratios (125 % -> 1,
    // 150 % and 200 % -> 2, 250 % -> 3) every one-pixel line stays one width,
    // text is laid out on whole pixels and no fixed rectangle meets a
    // fractional width. The price: a 150 % screen shows the window at 200 %,
    // which still fits a 1920 x 1080 screen at 150 % (960 x 540 logical
    // pixels against the window's 632 x 455 and its frame).
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(Qt::HighDpiScaleFactorRoundingPolicy::Round);
    // What the rounding leaves over (144 dpi over a ratio of 2 is 72 logical
    // dpi) would shrink whatever the style sizes by dpi (check box and radio
    // marks, arrows) and every font in points to three quarters: the design
    // counts 96 to the inch at every ratio.
    QCoreApplication::setAttribute(Qt::AA_Use96Dpi);
}

int CompositionRatio(qreal devicePixelRatio)
{
    // A ratio between whole ones (another policy, a platform that insists)
    // is composed at the next whole one and shrunk by the painter: finer
    // than stretching the smaller picture.
    return std::clamp(static_cast<int>(std::ceil(devicePixelRatio - 1e-6)), 1, 8);
}

QImage PictureFor(const QString &resource, qreal devicePixelRatio)
{
    const int ratio = CompositionRatio(devicePixelRatio);
    if (ratio > 1 && resource.endsWith(QLatin1String(".png"))) {
        QString scaled = resource;
        scaled.insert(scaled.size() - 4, QStringLiteral("@%1x").arg(ratio));
        QImage image(scaled);
        if (!image.isNull()) {
            image.setDevicePixelRatio(ratio);
            return image;
        }
    }
    return QImage(resource);
}

qreal InkRight(const QString &text, const QFont &font, int ratio)
{
    const QFontMetrics fm(font);
    constexpr int Pen = 4; // room for a glyph that starts left of its pen position
    QImage image((fm.horizontalAdvance(text) + 2 * Pen + 4) * ratio, (fm.height() + 2) * ratio, QImage::Format_RGB32);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::white);
    {
        QPainter p(&image);
        p.setFont(font);
        p.setPen(Qt::black);
        p.drawText(Pen, 1 + fm.ascent(), text);
    }
    int last = -1;
    for (int y = 0; y < image.height(); ++y) {
        const auto *row = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = image.width() - 1; x > last; --x)
            if (qGray(row[x]) < 128) {
                last = x;
                break;
            }
    }
    return last < 0 ? 0 : qreal(last + 1) / ratio - Pen;
}

namespace {

const char DesignWidth[] = "kp33DesignWidth";

// The text's box inside the control, and the text; false for controls whose
// text does not start at the box's left edge.
bool textRoom(QWidget *w, QRect &room, QString &text)
{
    if (auto *l = qobject_cast<QLabel *>(w)) {
        if (l->text().isEmpty() || !(l->alignment() & Qt::AlignLeft) || l->wordWrap() || l->textFormat() == Qt::RichText)
            return false;
        const int indent = l->indent() >= 0                        ? l->indent()
                           : l->frameWidth() > 0 ? l->fontMetrics().horizontalAdvance(QLatin1Char('x')) / 2
                                                 : 0;
        room = l->contentsRect().adjusted(l->margin() + indent, 0, -l->margin(), 0);
        text = l->text();
        return true;
    }
    auto *b = qobject_cast<QAbstractButton *>(w);
    if (!b || b->text().isEmpty() || !(qobject_cast<QCheckBox *>(b) || qobject_cast<QRadioButton *>(b)))
        return false;
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    room = b->style()->subElementRect(
        qobject_cast<QCheckBox *>(b) ? QStyle::SE_CheckBoxContents : QStyle::SE_RadioButtonContents, &opt, b);
    text = b->text();
    text.remove(QLatin1Char('&'));
    return true;
}

} // namespace

void FitTextsToRatio(QWidget *root, int ratio)
{
    for (QWidget *w : root->findChildren<QWidget *>()) {
        const QVariant design = w->property(DesignWidth);
        if (ratio <= 1) {
            if (design.isValid())
                w->resize(design.toInt(), w->height());
            continue;
        }
        if (design.isValid())
            w->resize(design.toInt(), w->height()); // measured against the design's box
        QRect room;
        QString text;
        if (!textRoom(w, room, text))
            continue;
        const int need = static_cast<int>(std::ceil(room.left() + InkRight(text, w->font(), ratio))) - (room.right() + 1);
        if (need <= 0)
            continue;
        if (!design.isValid())
            w->setProperty(DesignWidth, w->width());
        w->resize(w->width() + need, w->height());
    }
}

} // namespace kp33
