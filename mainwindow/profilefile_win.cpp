#include "mainwindow/profilefile.h"
#include "mainwindow/profilefileio.h"
#include "sensorbus/clock.h"

#include <QDir>
#include <QRandomGenerator>
#include <algorithm>
#include <string>
#include <windows.h>

namespace kp33 {

// GetPrivateProfileString hands a value in one pair of matching quotes back
// without them, so a KP33.ini that a person or another tool wrote that way
// reads here as it reads everywhere else on Windows.
const bool ProfileFile::PlatformStripsQuotes = true;

namespace profilefileio {

namespace {

// Between two tries of a blocked rename. A scanner or a sync tool reads a
// file this small in a few milliseconds; one that holds it for longer than
// ReplaceRetryMs is not letting go soon, and a close must not wait on it.
constexpr std::uint32_t RetryStepMs = 50;

// "\\?\" lifts the 260-character limit from an absolute path.
std::wstring nativePath(const QString &path)
{
    const QString p = QDir::toNativeSeparators(path);
    if (p.startsWith(QLatin1String("\\\\?\\")) || p.startsWith(QLatin1String("\\\\.\\")))
        return p.toStdWString();
    if (p.startsWith(QLatin1String("\\\\")))
        return L"\\\\?\\UNC\\" + p.mid(2).toStdWString();
    if (p.size() >= 3 && p[1] == u':' && p[2] == u'\\')
        return L"\\\\?\\" + p.toStdWString();
    return p.toStdWString();
}

// In the user's language, as Windows words it.
QString systemMessage(DWORD code)
{
    wchar_t *text = nullptr;
    const DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                                       FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    const QString message = n > 0 ? QString::fromWCharArray(text, int(n)).trimmed()
                                  : QStringLiteral("ошибка %1").arg(code);
    LocalFree(text);
    return message;
}

// What another program's open handle on the target makes a rename or an
// open fail with (on Windows without delete sharing, under Wine with any
// handle at all).
bool heldByAnother(DWORD code)
{
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_ACCESS_DENIED ||
           code == ERROR_USER_MAPPED_FILE;
}

// Access is denied for good, not for a moment.
bool readOnly(const std::wstring &path)
{
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

bool writeAll(HANDLE h, const QByteArray &data, DWORD &code)
{
    const char *p = data.constData();
    qsizetype left = data.size();
    while (left > 0) {
        DWORD done = 0;
        if (!WriteFile(h, p, DWORD(std::min<qsizetype>(left, 1 << 20)), &done, nullptr) || done == 0) {
            code = GetLastError();
            return false;
        }
        p += done;
        left -= done;
    }
    return true;
}

bool flush(HANDLE h, DWORD &code)
{
    if (FlushFileBuffers(h))
        return true;
    code = GetLastError();
    return false;
}

// A new file beside the target, under a name no other file has.
HANDLE createTemporary(const std::wstring &target, std::wstring &name, DWORD &code)
{
    for (int attempt = 0; attempt < 16; ++attempt) {
        name = target + L"." + std::to_wstring(QRandomGenerator::global()->generate()) + L".tmp";
        const HANDLE h =
            CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (h != INVALID_HANDLE_VALUE)
            return h;
        code = GetLastError();
        if (code != ERROR_FILE_EXISTS && code != ERROR_ALREADY_EXISTS)
            break;
    }
    return INVALID_HANDLE_VALUE;
}

// The last resort when the rename stays blocked: a holder that lets others
// write (most scanners do) lets this program write too. Not all-or-nothing
// like the rename, so it comes only after the rename has had its chance.
bool writeInPlace(const std::wstring &target, const QByteArray &data, DWORD &code)
{
    const HANDLE h = CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        code = GetLastError();
        return false;
    }
    // Written over from the start and cut after: the old text is gone only
    // once the new one is there.
    bool ok = writeAll(h, data, code);
    if (ok && !SetEndOfFile(h)) {
        code = GetLastError();
        ok = false;
    }
    ok = ok && flush(h, code);
    CloseHandle(h);
    return ok;
}

} // namespace

bool ReplaceContents(const QString &path, const QByteArray &data, QString &error)
{
    const std::wstring target = nativePath(path);
    std::wstring temporary;
    DWORD code = 0;
    const HANDLE h = createTemporary(target, temporary, code);
    if (h == INVALID_HANDLE_VALUE) {
        error = systemMessage(code);
        return false;
    }
    const bool ready = writeAll(h, data, code) && flush(h, code);
    CloseHandle(h);
    if (!ready) {
        DeleteFileW(temporary.c_str());
        error = systemMessage(code);
        return false;
    }

    Clock &clock = theClock();
    const std::uint32_t start = clock.tickCount();
    for (;;) {
        if (MoveFileExW(temporary.c_str(), target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
            return true;
        code = GetLastError();
        if (!heldByAnother(code) || readOnly(target) || clock.tickCount() - start >= ProfileFile::ReplaceRetryMs)
            break;
        clock.sleep(RetryStepMs);
    }
    const bool written = heldByAnother(code) && !readOnly(target) && writeInPlace(target, data, code);
    DeleteFileW(temporary.c_str());
    if (!written)
        error = systemMessage(code);
    return written;
}

} // namespace profilefileio

} // namespace kp33
