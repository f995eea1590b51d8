#include "mainwindow/tempparse.h"

#include <cmath>
#include <locale>
#include <sstream>

namespace kp33 {

std::optional<long double> parseTemp(const QString &text)
{
    std::istringstream in(text.toStdString());
    in.imbue(std::locale::classic());
    long double v = 0;
    if (!(in >> v) || !(in >> std::ws).eof() || !std::isfinite(v))
        return std::nullopt;
    return v;
}

} // namespace kp33
