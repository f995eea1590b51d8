#include "dialogs/faces.h"

#include <QFontDatabase>
#include <QList>

namespace kp33 {

namespace {

const QString StandIn = QStringLiteral("Liberation Sans");

QString choose(Face face)
{
    const QString name = SystemFaceName(face);
    // The text is Russian: a face without Cyrillic letters (the western
    // "MS Sans Serif" of most Windows installations) would borrow each of
    // them from another face.
    if (!name.isEmpty() && QFontDatabase::hasFamily(name) &&
        QFontDatabase::writingSystems(name).contains(QFontDatabase::Cyrillic))
        return name;
    return StandIn;
}

} // namespace

QString FaceFamily(Face face)
{
    // The font database does not change while the program runs.
    static const QString families[] = {choose(Face::MSSansSerif), choose(Face::Arial), choose(Face::ArialBlack)};
    return families[static_cast<int>(face)];
}

QFont DesignFont(Face face, int pixels, bool bold, bool italic)
{
    QFont f(FaceFamily(face));
    f.setPixelSize(pixels);
    f.setItalic(italic);
    if (face == Face::ArialBlack)
        f.setWeight(f.family() == StandIn ? QFont::Bold : QFont::Black);
    else
        f.setBold(bold);
    return f;
}

} // namespace kp33
