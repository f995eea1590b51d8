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
    // them from another face. A bitmap face (the Cyrillic "MS Sans Serif"
    // is one) has a few fixed sizes, none of them the 11 px the layout was
    // measured with.
    if (!name.isEmpty() && QFontDatabase::hasFamily(name) && QFontDatabase::isSmoothlyScalable(name) &&
        QFontDatabase::writingSystems(name).contains(QFontDatabase::Cyrillic))
        return name;
    return StandIn;
}

} // namespace

bool LoadCarriedFaces()
{
    // Registered once: a second registration of the same file would only
    // add a duplicate of each face.
    static const bool loaded = [] {
        bool ok = true;
        for (const QString &file : {QStringLiteral(":/faces/LiberationSans-Regular.ttf"),
                                    QStringLiteral(":/faces/LiberationSans-Bold.ttf")}) {
            if (QFontDatabase::addApplicationFont(file) < 0) {
                qWarning("KP33: the carried face %s cannot be loaded; the system's faces stand in",
                         qPrintable(file));
                ok = false;
            }
        }
        return ok;
    }();
    return loaded;
}

QString FaceFamily(Face face)
{
    // The font database does not change while the program runs, once the
    // carried faces are in it: they must be there before the first choice,
    // which may fall to them.
    LoadCarriedFaces();
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
