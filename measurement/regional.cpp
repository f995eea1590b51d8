#include "measurement/regional.h"

namespace kp33 {

namespace {

bool asciiDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// A separator is anything that cannot be a field or the start of a literal;
// it is replaced in the name, so which one it is does not matter.
bool separator(QChar c) { return !c.isLetterOrNumber() && c != u'\''; }

} // namespace

QString FixedRowTime(QTime time) { return time.toString(QStringLiteral("HH:mm:ss")); }

QString FixedDateStem(QDate date) { return date.toString(QStringLiteral("dd-MM-yyyy")); }

QString DateStemFromShortDate(QStringView picture, QStringView text)
{
    if (picture.size() != 8 && picture.size() != 10)
        return {};
    const QStringView first = picture.first(2), second = picture.sliced(3, 2), year = picture.sliced(6);
    const bool dayAndMonth = (first == u"dd" && second == u"MM") || (first == u"MM" && second == u"dd");
    if (!dayAndMonth || (year != u"yyyy" && year != u"yy") || !separator(picture[2]) || !separator(picture[5]))
        return {};
    // The text must be what the picture gives, separators where it puts them;
    // anything else (another calendar's marks, digits of another script) is
    // no safe file name.
    if (text.size() != picture.size() || text[2] != picture[2] || text[5] != picture[5])
        return {};
    QString stem = text.toString();
    stem[2] = stem[5] = u'-';
    for (qsizetype i = 0; i < stem.size(); ++i)
        if (i != 2 && i != 5 && !asciiDigit(stem[i]))
            return {};
    return stem;
}

bool RowTimeUsable(QStringView picture, QStringView am, QStringView pm, QStringView text)
{
    bool hours12 = false, hours24 = false, minutes = false, seconds = false;
    bool marker = false, fullMarker = false, quoted = false;
    for (qsizetype i = 0; i < picture.size(); ++i) {
        const QChar c = picture[i];
        if (c == u'\'') {
            quoted = !quoted;
            continue;
        }
        if (quoted)
            continue;
        hours12 |= c == u'h';
        hours24 |= c == u'H';
        minutes |= c == u'm';
        seconds |= c == u's';
        if (c == u't') {
            fullMarker |= marker && picture[i - 1] == u't';
            marker = true;
        }
    }
    if (!(hours12 || hours24) || !minutes || !seconds)
        return false;
    if (hours12 && !hours24) {
        // 9:05:03 in the morning and in the evening must not read the same.
        if (!marker || am.isEmpty() || pm.isEmpty())
            return false;
        if (fullMarker ? am == pm : am.front() == pm.front())
            return false;
    }
    if (text.isEmpty())
        return false;
    for (const QChar c : text)
        if (c == u',' || c == u'"' || c == u'\r' || c == u'\n' || c == QChar(u'\0'))
            return false;
    return true;
}

} // namespace kp33
