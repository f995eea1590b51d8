#pragma once
// The time of a data row and the date in an automatic data-file name.
//
// On Windows both follow the user's regional settings: the row's time is the
// long time format, the name is the short date with its 3rd and 6th
// characters made "-" (07.12.2026 -> 07-12-2026). A format that could not
// serve gives the fixed one instead: HH:mm:ss, dd-MM-yyyy. Linux has no such
// settings of its own and always uses the fixed formats.

#include <QDate>
#include <QString>
#include <QTime>

namespace kp33 {

// The platform's: what a row and a file name hold.
QString RowTimeText(QTime time);
QString DataFileDateStem(QDate date);

// HH:mm:ss and dd-MM-yyyy.
QString FixedRowTime(QTime time);
QString FixedDateStem(QDate date);

// The rules, apart from where the formats come from.
//
// The stem for a short date `text` formatted with the picture `picture`
// (Windows' d/M/y letters), or an empty string when the picture does not put
// a two-digit day and month in the first two places (dd.MM.yyyy, MM/dd/yy),
// each followed by one separator, and the year after them: only then does
// replacing the two separators give a name of digits and "-". M/d/yyyy,
// yyyy-MM-dd or text in other digits give an empty string.
QString DateStemFromShortDate(QStringView picture, QStringView text);

// Whether `text`, the time formatted with the long-time picture `picture`
// (h/H/m/s/t letters, 'quoted' literals) and the designators am and pm, may
// stand as a row's first field: hours, minutes and seconds are there, a
// 12-hour clock tells morning from evening, and the text holds no comma,
// quote or line break that would split or break the CSV row.
bool RowTimeUsable(QStringView picture, QStringView am, QStringView pm, QStringView text);

} // namespace kp33
