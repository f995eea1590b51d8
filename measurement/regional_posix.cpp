#include "measurement/regional.h"

namespace kp33 {

// A Linux desktop's locale says nothing the user chose for this program's
// files, and every script reading them expects one layout: the fixed formats.
QString RowTimeText(QTime time) { return FixedRowTime(time); }

QString DataFileDateStem(QDate date) { return FixedDateStem(date); }

} // namespace kp33
