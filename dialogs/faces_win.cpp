#include "dialogs/faces.h"

namespace kp33 {

QString SystemFaceName(Face face)
{
    switch (face) {
    case Face::MSSansSerif:
        return QStringLiteral("MS Sans Serif");
    case Face::Arial:
        return QStringLiteral("Arial");
    case Face::ArialBlack:
        return QStringLiteral("Arial Black");
    }
    return {};
}

} // namespace kp33
