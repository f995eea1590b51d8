#include "measurement/regional.h"

#include <windows.h>

// The user's own formats, asked for at every row: a change in the regional
// settings applies from the next row on, as it does in Windows' own programs.

namespace kp33 {

namespace {

// Windows' formats are at most 80 characters long.
constexpr int FormatChars = 80;

QString userLocaleInfo(LCTYPE type)
{
    wchar_t buffer[FormatChars];
    const int n = GetLocaleInfoEx(LOCALE_NAME_USER_DEFAULT, type, buffer, FormatChars);
    return n > 0 ? QString::fromWCharArray(buffer, n - 1) : QString();
}

SYSTEMTIME systemTime(QDate date, QTime time)
{
    SYSTEMTIME st{};
    st.wYear = static_cast<WORD>(date.year());
    st.wMonth = static_cast<WORD>(date.month());
    st.wDay = static_cast<WORD>(date.day());
    st.wDayOfWeek = static_cast<WORD>(date.dayOfWeek() % 7);
    st.wHour = static_cast<WORD>(time.hour());
    st.wMinute = static_cast<WORD>(time.minute());
    st.wSecond = static_cast<WORD>(time.second());
    return st;
}

} // namespace

QString RowTimeText(QTime time)
{
    // Any valid date: only the time is formatted.
    const SYSTEMTIME st = systemTime(QDate(2000, 1, 1), time);
    wchar_t buffer[FormatChars];
    const int n = GetTimeFormatEx(LOCALE_NAME_USER_DEFAULT, 0, &st, nullptr, buffer, FormatChars);
    const QString text = n > 0 ? QString::fromWCharArray(buffer, n - 1) : QString();
    if (RowTimeUsable(userLocaleInfo(LOCALE_STIMEFORMAT), userLocaleInfo(LOCALE_S1159),
                      userLocaleInfo(LOCALE_S2359), text))
        return text;
    return FixedRowTime(time);
}

QString DataFileDateStem(QDate date)
{
    const SYSTEMTIME st = systemTime(date, QTime(12, 0));
    wchar_t buffer[FormatChars];
    const int n = GetDateFormatEx(LOCALE_NAME_USER_DEFAULT, DATE_SHORTDATE, &st, nullptr, buffer, FormatChars,
                                  nullptr);
    const QString text = n > 0 ? QString::fromWCharArray(buffer, n - 1) : QString();
    const QString stem = DateStemFromShortDate(userLocaleInfo(LOCALE_SSHORTDATE), text);
    return stem.isEmpty() ? FixedDateStem(date) : stem;
}

} // namespace kp33
