#include "measurement/datafileio.h"

#include <QDir>
#include <cwctype>
#include <optional>
#include <string>
#include <string_view>
#include <windows.h>

namespace kp33::datafileio {

namespace {

HANDLE handle(Handle file) { return reinterpret_cast<HANDLE>(file); }

// The path to open for name, or nothing for a device. A device is refused
// by its name, before it is opened: "CON", "NUL", "COM1" or
// "C:\DATA\NUL.csv" all stand for "\\.\<device>", and opening a port or a
// pipe could wait on the other end. Only drive and network paths are files;
// "\\?\" in front of either is still one.
// A full path of MAX_PATH characters or more opens only in the "\\?\" form,
// which takes the path as it is: absolute, with backslashes, no "." or "..",
// all of which the full path already is. Shorter paths stay in the form the
// user gave, so what Windows makes of them is what it always did.
std::optional<std::wstring> filePath(const std::wstring &name)
{
    const DWORD needed = GetFullPathNameW(name.c_str(), 0, nullptr, nullptr);
    if (needed == 0)
        return std::nullopt;
    std::wstring full(needed, L'\0');
    const DWORD n = GetFullPathNameW(name.c_str(), needed, full.data(), nullptr);
    if (n == 0 || n >= needed)
        return std::nullopt;
    full.resize(n);
    if (full.starts_with(L"\\\\.\\"))
        return std::nullopt;
    if (full.starts_with(L"\\\\?\\")) {
        const std::wstring_view rest = std::wstring_view(full).substr(4);
        const bool drive = rest.size() >= 3 && std::iswalpha(rest[0]) && rest[1] == L':' && rest[2] == L'\\';
        if (drive || rest.starts_with(L"UNC\\"))
            return full;
        return std::nullopt;
    }
    const bool drive = full.size() >= 3 && std::iswalpha(full[0]) && full[1] == L':' && full[2] == L'\\';
    const bool unc = full.starts_with(L"\\\\") && full.size() > 2;
    if (!drive && !unc)
        return std::nullopt;
    if (full.size() < MAX_PATH)
        return name;
    return drive ? L"\\\\?\\" + full : L"\\\\?\\UNC\\" + full.substr(2);
}

// Another program holds the file: it opened it without sharing what we ask
// for (a spreadsheet opening it for reading only), or locked a part of it.
bool heldByAnother(DWORD error) { return error == ERROR_SHARING_VIOLATION || error == ERROR_LOCK_VIOLATION; }

Status writeAll(HANDLE h, const char *p, std::size_t n)
{
    bool any = false;
    while (n > 0) {
        const DWORD chunk = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
        DWORD written = 0;
        if (!WriteFile(h, p, chunk, &written, nullptr) || written == 0)
            return !any && heldByAnother(GetLastError()) ? Status::Busy : Status::Failed;
        any = true;
        p += written;
        n -= written;
    }
    return Status::Ok;
}

// The last character of the file, or '\n' when there is none to read.
char lastCharacter(const std::wstring &name, LONGLONG size)
{
    HANDLE r = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (r == INVALID_HANDLE_VALUE)
        return '\n';
    OVERLAPPED at{};
    at.Offset = static_cast<DWORD>(size - 1);
    at.OffsetHigh = static_cast<DWORD>((size - 1) >> 32);
    char last = '\n';
    DWORD read = 0;
    if (!ReadFile(r, &last, 1, &read, &at) || read != 1)
        last = '\n';
    CloseHandle(r);
    return last;
}

} // namespace

Handle OpenForAppend(const QString &name, Status &status)
{
    status = Status::Failed;
    if (name.isEmpty())
        return NoFile;
    const std::optional<std::wstring> opened = filePath(QDir::toNativeSeparators(name).toStdWString());
    if (!opened)
        return NoFile;
    const std::wstring &path = *opened;
    // Append data only: every write goes to the end, whoever else writes.
    // Others may read and write meanwhile, so the user can open the file in
    // another program while recording goes on.
    HANDLE h = CreateFileW(path.c_str(), FILE_APPEND_DATA | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                           FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (heldByAnother(GetLastError()))
            status = Status::Busy;
        return NoFile;
    }
    LARGE_INTEGER size{};
    if (GetFileType(h) != FILE_TYPE_DISK || !GetFileSizeEx(h, &size)) {
        CloseHandle(h);
        return NoFile;
    }
    if (size.QuadPart > 0) {
        const std::string_view end = LineEndAfter(lastCharacter(path, size.QuadPart));
        const Status ended = end.empty() ? Status::Ok : writeAll(h, end.data(), end.size());
        if (ended != Status::Ok) {
            CloseHandle(h);
            status = ended;
            return NoFile;
        }
    }
    status = Status::Ok;
    return reinterpret_cast<Handle>(h);
}

Status WriteRow(Handle file, const char *data, std::size_t size)
{
    if (file == NoFile)
        return Status::Failed;
    const Status written = writeAll(handle(file), data, size);
    if (written != Status::Ok)
        return written;
    return FlushFileBuffers(handle(file)) ? Status::Ok : Status::Failed;
}

void Close(Handle file)
{
    if (file != NoFile)
        CloseHandle(handle(file));
}

} // namespace kp33::datafileio
