#include "mainwindow/profilefile.h"

#include "mainwindow/profilefileio.h"

#include <QFile>
#include <QFileInfo>

namespace kp33 {

namespace {

const QByteArray Bom("\xEF\xBB\xBF");
// Shared by every line, so a file of many short lines costs no allocation per ending.
const QByteArray CrLf("\r\n"), Lf("\n"), Cr("\r");

// A file this program creates takes the platform's own text convention; a
// file that exists keeps the ending of its first line.
#ifdef _WIN32
const QByteArray NewFileEol = CrLf;
#else
const QByteArray NewFileEol = Lf;
#endif

// Windows-1251, the ANSI code page of the earlier Windows program, whose files
// hold Cyrillic text this way: 0x80..0xBF here, 0xC0..0xFF are А..я in order.
// 0x98 is unassigned in it and reads as U+FFFD; written back unchanged, the
// byte itself stays in the file.
constexpr char16_t Cp1251From80[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F, // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, // 90
    0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407, // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7, // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457, // B8
};

// UTF-8 when the bytes are valid UTF-8, else Windows-1251. A 1251 text that
// happens to be valid UTF-8 as well reads as UTF-8; in Cyrillic words that
// takes a capital followed by one of the rarer signs of 0x80..0xBF.
QString decodeText(QByteArrayView raw)
{
    if (raw.isValidUtf8())
        return QString::fromUtf8(raw);
    QString s(raw.size(), Qt::Uninitialized);
    QChar *out = s.data();
    for (const char c : raw) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = QChar(b < 0x80    ? char16_t(b)
                       : b < 0xC0 ? Cp1251From80[b - 0x80]
                                  : char16_t(0x0410 + (b - 0xC0)));
    }
    return s;
}

// Names are compared as the file holds them (ASCII blanks trimmed, decoded
// like values), whether they come from the file or from a caller.
QString foldName(const QByteArray &raw)
{
    return decodeText(raw.trimmed()).toCaseFolded();
}

bool isQuote(char c) { return c == '"' || c == '\''; }

// One pair of matching quotes around the whole (trimmed) value; a lone quote
// is a value of its own.
bool enclosedInQuotes(QByteArrayView v) { return v.size() >= 2 && isQuote(v.front()) && v.back() == v.front(); }

QString valueText(const QByteArray &line, qsizetype valueStart, bool stripQuotes)
{
    QByteArrayView v = QByteArrayView(line).sliced(valueStart).trimmed();
    if (stripQuotes && enclosedInQuotes(v))
        v = v.sliced(1, v.size() - 2);
    return decodeText(v);
}

// What must go into the file for value to read back as itself.
QByteArray valueBytes(const QString &value, bool stripQuotes)
{
    const QByteArray v = value.toUtf8();
    if (stripQuotes && (v.trimmed().size() != v.size() || enclosedInQuotes(v)))
        return '"' + v + '"';
    return v;
}

bool hasLineBreakOrNul(const QByteArray &b)
{
    return b.contains('\r') || b.contains('\n') || b.contains('\0');
}

} // namespace

ProfileFile::ProfileFile() : m_eol(NewFileEol) {}

QByteArray ProfileFile::newFileEol() { return NewFileEol; }

ProfileFile::LoadResult ProfileFile::load(const QString &path)
{
    setContents({});
    m_path = path;
    m_error.clear();
    m_refuseSave = false;

    // Checked before opening: opening a FIFO for reading would wait for a writer.
    const QFileInfo info(path);
    if (!info.exists())
        return LoadResult::Missing;
    if (!info.isFile()) {
        m_error = QStringLiteral("это не обычный файл");
        return LoadResult::NotRegular;
    }

    QFile file(path);
    QByteArray data;
    if (info.size() > MaxSize) {
        m_error = QStringLiteral("файл больше %1 байт").arg(MaxSize);
    } else if (!file.open(QIODevice::ReadOnly)) {
        m_error = file.errorString();
    } else {
        // One byte past the limit tells a file that grew since the check.
        data = file.read(MaxSize + 1);
        if (file.error() != QFileDevice::NoError)
            m_error = file.errorString();
        else if (data.size() > MaxSize)
            m_error = QStringLiteral("файл больше %1 байт").arg(MaxSize);
    }
    if (!m_error.isEmpty()) {
        // Whatever it holds is the user's; a save would replace it with defaults.
        m_refuseSave = true;
        return LoadResult::Unreadable;
    }
    setContents(data);
    return LoadResult::Loaded;
}

void ProfileFile::setContents(const QByteArray &bytes)
{
    m_lines.clear();
    m_sections.clear();
    m_sectionIndex.clear();
    m_head = m_tail = -1;
    m_bom = bytes.startsWith(Bom);
    m_eol = NewFileEol;

    const char *p = bytes.constData() + (m_bom ? Bom.size() : 0);
    const char *const end = bytes.constData() + bytes.size();
    int current = -1; // section the lines belong to; -1 before any or in a duplicate
    while (p < end) {
        const char *e = p;
        while (e < end && *e != '\n' && *e != '\r')
            ++e;
        Line line;
        line.text = QByteArray(p, e - p);
        if (e < end)
            line.ending = *e == '\n' ? Lf : (e + 1 < end && e[1] == '\n') ? CrLf : Cr;
        p = e + line.ending.size();

        const QByteArray t = line.text.trimmed();
        const int id = int(m_lines.size());
        if (t.startsWith('[') && t.indexOf(']') > 0) {
            const QString name = foldName(t.mid(1, t.indexOf(']') - 1));
            current = -1;
            if (!m_sectionIndex.contains(name)) {
                current = int(m_sections.size());
                m_sections.push_back({});
                m_sectionIndex.insert(name, current);
            }
        } else if (current >= 0 && !t.isEmpty() && t[0] != ';' && t[0] != '#' && t[0] != '[') {
            const qsizetype eq = line.text.indexOf('=');
            const QByteArray key = eq > 0 ? line.text.left(eq).trimmed() : QByteArray();
            if (!key.isEmpty()) {
                qsizetype v = eq + 1;
                while (v < line.text.size() && (line.text[v] == ' ' || line.text[v] == '\t'))
                    ++v;
                line.valueStart = v;
                QHash<QString, int> &keys = m_sections[current].keys;
                const QString name = foldName(key);
                if (!keys.contains(name)) // the first of duplicated keys is the one used
                    keys.insert(name, id);
            }
        }
        if (current >= 0 && !t.isEmpty())
            m_sections[current].last = id;

        if (id == 0 && !line.ending.isEmpty())
            m_eol = line.ending;
        if (m_tail >= 0)
            m_lines[m_tail].next = id;
        else
            m_head = id;
        m_tail = id;
        m_lines.push_back(std::move(line));
    }
}

QByteArray ProfileFile::contents() const
{
    qsizetype size = m_bom ? Bom.size() : 0;
    for (const Line &l : m_lines)
        size += l.text.size() + m_eol.size() + 2;
    QByteArray out;
    out.reserve(size);
    if (m_bom)
        out += Bom;
    for (int i = m_head; i >= 0; i = m_lines[i].next) {
        const Line &l = m_lines[i];
        out += l.text;
        // Only an original last line lacks an ending; it needs one once lines follow it.
        out += (l.ending.isEmpty() && l.next >= 0) ? m_eol : l.ending;
    }
    return out;
}

QString ProfileFile::readString(const QString &section, const QString &key,
                                const QString &def) const
{
    const auto s = m_sectionIndex.constFind(foldName(section.toUtf8()));
    if (s == m_sectionIndex.cend())
        return def;
    const QHash<QString, int> &keys = m_sections[*s].keys;
    const auto k = keys.constFind(foldName(key.toUtf8()));
    if (k == keys.cend())
        return def;
    const Line &l = m_lines[*k];
    return valueText(l.text, l.valueStart, m_stripQuotes);
}

bool ProfileFile::writeString(const QString &section, const QString &key, const QString &value)
{
    const QByteArray sec = section.toUtf8().trimmed();
    const QByteArray k = key.toUtf8().trimmed();
    const QByteArray v = valueBytes(value, m_stripQuotes);
    if (sec.isEmpty() || sec.contains(']') || hasLineBreakOrNul(sec) || k.isEmpty()
        || k.contains('=') || k[0] == '[' || k[0] == ';' || k[0] == '#'
        || hasLineBreakOrNul(k) || hasLineBreakOrNul(v))
        return false;

    const QString secName = foldName(sec);
    const QString keyName = foldName(k);
    auto s = m_sectionIndex.constFind(secName);
    int si;
    if (s == m_sectionIndex.cend()) {
        si = int(m_sections.size());
        m_sections.push_back({});
        m_sections[si].last = insertAfter(m_tail, '[' + sec + ']');
        m_sectionIndex.insert(secName, si);
    } else {
        si = *s;
    }

    Section &target = m_sections[si];
    const auto found = target.keys.constFind(keyName);
    if (found != target.keys.cend()) {
        Line &l = m_lines[*found];
        // A value that reads the same keeps its bytes: text in another code
        // page stays in it, so an unchanged file is written back unchanged.
        if (valueText(l.text, l.valueStart, m_stripQuotes) != value)
            l.text = l.text.left(l.valueStart) + v;
        return true;
    }
    const int id = insertAfter(target.last, k + '=' + v);
    m_lines[id].valueStart = k.size() + 1;
    target.last = id;
    target.keys.insert(keyName, id);
    return true;
}

int ProfileFile::insertAfter(int anchor, const QByteArray &text)
{
    const int id = int(m_lines.size());
    Line line;
    line.text = text;
    line.ending = m_eol;
    if (anchor < 0) {
        line.next = m_head;
        m_head = id;
    } else {
        line.next = m_lines[anchor].next;
        m_lines[anchor].next = id;
    }
    if (line.next < 0)
        m_tail = id;
    m_lines.push_back(std::move(line));
    return id;
}

bool ProfileFile::save()
{
    m_error.clear();
    if (m_path.isEmpty()) {
        m_error = QStringLiteral("не задано имя файла");
        return false;
    }
    if (m_refuseSave) {
        m_error = QStringLiteral("прежний файл не удалось прочитать, он оставлен как есть");
        return false;
    }
    // Renaming over a FIFO or a device would quietly replace something that is not ours.
    const QFileInfo info(m_path);
    if (info.exists() && !info.isFile()) {
        m_error = QStringLiteral("это не обычный файл");
        return false;
    }

    return profilefileio::ReplaceContents(m_path, contents(), m_error);
}

} // namespace kp33
