#include "mainwindow/lookandfeel.h"

#include "dialogs/faces.h"

#include <QApplication>
#include <QFile>
#include <QFont>
#include <QIcon>
#include <QLibraryInfo>
#include <QPainter>
#include <QPixmap>
#include <QProxyStyle>
#include <QStyleFactory>
#include <QStyleOptionGroupBox>
#include <QTranslator>
#include <qdrawutil.h>

namespace kp33 {

namespace {

// Fusion puts a group box's title above its frame, so the frame's top line
// runs a title's height down: through the labels at the top of the limits
// group and the first radio item of the recording dialog, where the fixed
// layout puts them. The layout was made for the classic group box, whose
// etched frame starts at the middle of the title and is broken behind it;
// it is drawn so here. Positions and sizes stay as they are.
class ClassicGroupBoxStyle final : public QProxyStyle {
public:
    using QProxyStyle::QProxyStyle;

    QRect subControlRect(ComplexControl control, const QStyleOptionComplex *option, SubControl sub,
                         const QWidget *widget) const override
    {
        const auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
        if (control != CC_GroupBox || !box || (box->subControls & SC_GroupBoxCheckBox))
            return QProxyStyle::subControlRect(control, option, sub, widget);
        const QFontMetrics &fm = box->fontMetrics;
        switch (sub) {
        case SC_GroupBoxLabel:
            if (box->text.isEmpty())
                return {};
            return {box->rect.left() + TitleIndent, box->rect.top(),
                    fm.horizontalAdvance(box->text) + 2 * TitleGap, fm.height()};
        case SC_GroupBoxFrame:
            return box->rect.adjusted(0, box->text.isEmpty() ? 0 : fm.height() / 2, 0, 0);
        default:
            return QProxyStyle::subControlRect(control, option, sub, widget);
        }
    }

    void drawComplexControl(ComplexControl control, const QStyleOptionComplex *option, QPainter *painter,
                            const QWidget *widget) const override
    {
        const auto *box = qstyleoption_cast<const QStyleOptionGroupBox *>(option);
        if (control != CC_GroupBox || !box || (box->subControls & SC_GroupBoxCheckBox)) {
            QProxyStyle::drawComplexControl(control, option, painter, widget);
            return;
        }
        const QRect title = subControlRect(control, box, SC_GroupBoxLabel, widget);
        if (box->subControls & SC_GroupBoxFrame) {
            painter->save();
            painter->setClipRegion(QRegion(box->rect).subtracted(title));
            qDrawShadeRect(painter, subControlRect(control, box, SC_GroupBoxFrame, widget), box->palette,
                           true, 1, 0);
            painter->restore();
        }
        if ((box->subControls & SC_GroupBoxLabel) && !title.isEmpty()) {
            const int mnemonic = styleHint(SH_UnderlineShortcut, box, widget) ? Qt::TextShowMnemonic
                                                                              : Qt::TextHideMnemonic;
            drawItemText(painter, title, Qt::AlignCenter | mnemonic, box->palette,
                         box->state & State_Enabled, box->text, QPalette::WindowText);
        }
    }

private:
    static constexpr int TitleIndent = 6; // the title's box from the frame's left edge
    static constexpr int TitleGap = 2;    // the break in the line either side of the text
};

} // namespace

void ApplyLookAndFeel(QApplication &app)
{
    QApplication::setStyle(new ClassicGroupBoxStyle(QStyleFactory::create(QStringLiteral("Fusion"))));
    QApplication::setFont(DesignFont(Face::MSSansSerif, 11));
    // Standard buttons read "Да"/"Нет"/"Отмена"; a missing translation is no
    // error. Qt's own folder first; the Windows program carries a copy.
    auto *qt = new QTranslator(&app);
    for (const QString &folder :
         {QLibraryInfo::path(QLibraryInfo::TranslationsPath), QStringLiteral(":/translations")}) {
        if (qt->load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"), folder)) {
            QApplication::installTranslator(qt);
            break;
        }
    }
}

QIcon ProgramIcon()
{
    QFile file(QStringLiteral(":/kp33.ico"));
    const QByteArray ico = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    const auto le = [&ico](qsizetype at, int bytes) {
        quint32 v = 0;
        for (int i = bytes - 1; i >= 0; --i)
            v = v << 8 | static_cast<quint8>(ico.at(at + i));
        return v;
    };
    QIcon icon;
    // The directory: a count at 4, then 16 bytes an entry, its size and
    // offset at 8 and 12; each entry must lie inside the file.
    const qsizetype count = ico.size() >= 6 ? le(4, 2) : 0;
    for (qsizetype i = 0; i < count && 6 + 16 * (i + 1) <= ico.size(); ++i) {
        const qsizetype bytes = le(6 + 16 * i + 8, 4), offset = le(6 + 16 * i + 12, 4);
        if (offset > ico.size() || bytes > ico.size() - offset)
            break;
        QPixmap entry;
        if (entry.loadFromData(ico.mid(offset, bytes), "PNG"))
            icon.addPixmap(entry);
    }
    return icon.isNull() ? QIcon(QStringLiteral(":/kp33.png")) : icon;
}

} // namespace kp33
