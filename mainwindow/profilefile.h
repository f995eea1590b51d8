#pragma once
// A small INI reader/writer that edits a file the way a person would: a write
// touches one line (or adds one), everything else stays byte for byte, line
// endings and a leading UTF-8 byte-order mark included.
//
// Section and key names are case-insensitive and trimmed; values are trimmed.
// Where Windows' own profile functions read the file (stripsQuotes()), a
// value enclosed in one pair of matching quotes, "..." or '...', reads
// without them, as those functions hand it over.
// The first of duplicated sections, and the first of duplicated keys within
// it, is the one read and the one written. Lines before the first section,
// comments (";" or "#") and anything unparsable are kept and never matched.
//
// Text is UTF-8. A name or value whose bytes are not valid UTF-8 reads as
// Windows-1251, the code page of files from the earlier Windows program;
// writing the same text back leaves its bytes alone, new text goes in as UTF-8.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <cstdint>
#include <vector>

namespace kp33 {

class ProfileFile {
public:
    ProfileFile();

    // The line ending of a file this program creates: the platform's own.
    static QByteArray newFileEol();

    enum class LoadResult {
        Loaded,
        Missing,    // nothing there: reads give defaults, save creates the file
        NotRegular, // a directory, FIFO, socket or device: reads give defaults, save refuses
        Unreadable, // a regular file that could not be read: save refuses, so it is not lost
    };

    // Files above this size are not settings; they are left alone.
    static constexpr qint64 MaxSize = 16 * 1024 * 1024;

    LoadResult load(const QString &path);
    // Parses bytes as if they were the file's contents (no path is set).
    void setContents(const QByteArray &bytes);
    // The bytes save() would write.
    QByteArray contents() const;

    QString readString(const QString &section, const QString &key, const QString &def) const;
    // False, and nothing changes, for a name that could not be read back
    // (empty, "]" in a section, "=" in a key) or any CR, LF or NUL. While
    // quotes are stripped, a value that would not read back as itself
    // (blanks at an end, or enclosed in quotes) is written in double quotes.
    bool writeString(const QString &section, const QString &key, const QString &value);

    // True on Windows, where other programs read KP33.ini through the
    // profile functions; Linux reads values as they stand.
    static const bool PlatformStripsQuotes;
    bool stripsQuotes() const { return m_stripQuotes; }
    void setStripQuotes(bool strip) { m_stripQuotes = strip; }

    // Writes to a temporary file beside the target and renames it over, so a
    // failure never leaves a half-written file. On Windows a rename that
    // another program's open handle blocks (a virus scanner, a sync tool) is
    // tried again for up to ReplaceRetryMs (clock seam), and the file is then
    // written in place. False with errorString() set.
    bool save();
    static constexpr std::uint32_t ReplaceRetryMs = 1000;

    QString path() const { return m_path; }
    QString errorString() const { return m_error; }

private:
    struct Line {
        QByteArray text;   // without its line ending
        QByteArray ending; // "\r\n", "\n", "\r" or empty on a last line
        int next = -1;     // lines are a linked list so inserts never shift indices
        qsizetype valueStart = -1; // key lines: where the value starts, after "=" and blanks
    };
    struct Section {
        int last = -1; // last non-blank line: where a new key goes
        QHash<QString, int> keys;
    };

    int insertAfter(int anchor, const QByteArray &text);

    QString m_path;
    QString m_error;
    bool m_refuseSave = false;
    bool m_stripQuotes = PlatformStripsQuotes;
    bool m_bom = false;
    QByteArray m_eol; // ending of the lines this object adds
    std::vector<Line> m_lines;
    int m_head = -1;
    int m_tail = -1;
    std::vector<Section> m_sections;
    QHash<QString, int> m_sectionIndex; // folded name -> first section only
};

} // namespace kp33
