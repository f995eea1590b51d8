#include "testsupport.h"

#include <QDir>
#include <string>
#include <windows.h>

namespace kp33::test {

// Named pipes live in their own namespace (\\.\pipe\), never at a path of
// the file system.
const bool HasFifos = false;
const bool RecordIsAFile = false;
const bool UserFoldersFollowXdg = false;

QString LocalAppData() { return QDir::fromNativeSeparators(qEnvironmentVariable("LOCALAPPDATA")); }

bool MakeFifo(const QString &) { return false; }

int OpenFifoReader(const QString &) { return -1; }

void CloseFifoReader(int) {}

QStringList DeviceFileNames()
{
    return {QStringLiteral("CON"), QStringLiteral("NUL"), QStringLiteral("COM1"), QStringLiteral("\\\\.\\NUL"),
            QStringLiteral("CONOUT$")};
}

ForeignHold::ForeignHold(const QString &path)
{
    const std::wstring name = QDir::toNativeSeparators(path).toStdWString();
    HANDLE h = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        m_handle = reinterpret_cast<std::intptr_t>(h);
}

void ForeignHold::release()
{
    if (m_handle == -1)
        return;
    CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}

namespace {

// "HKEY_CURRENT_USER\SOFTWARE\KP33\Information" -> "SOFTWARE\KP33\Information"
std::wstring subKey(const QString &location)
{
    return location.section(QLatin1Char('\\'), 1).toStdWString();
}

} // namespace

QStringList ReadRegistryRecord(const QString &location)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, subKey(location).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return {};
    // RegEnumValueW gives the values in the order they were made.
    QStringList lines;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        wchar_t data[1024];
        DWORD dataBytes = sizeof data;
        DWORD type = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE *>(data), &dataBytes) !=
            ERROR_SUCCESS)
            break;
        QString value = QString::fromWCharArray(data, int(dataBytes / sizeof(wchar_t)));
        while (value.endsWith(QChar(u'\0')))
            value.chop(1);
        if (type != REG_SZ)
            value = QStringLiteral("<type %1>").arg(type);
        lines << QString::fromWCharArray(name, int(nameLength)) + QLatin1Char('=') + value;
    }
    RegCloseKey(key);
    return lines;
}

void ClearRegistryRecord(const QString &location) { RegDeleteTreeW(HKEY_CURRENT_USER, subKey(location).c_str()); }

const bool WindowsConventions = true;

std::optional<QString> SystemProfileString(const QString &path, const QString &section, const QString &key)
{
    auto wide = [](const QString &s) { return reinterpret_cast<const wchar_t *>(s.utf16()); };
    wchar_t buffer[512];
    const DWORD n = GetPrivateProfileStringW(wide(section), wide(key), L"DEF", buffer, 512,
                                             wide(QDir::toNativeSeparators(path)));
    return QString::fromWCharArray(buffer, int(n));
}

const bool HasFileHolds = true;

FileHold::FileHold(const QString &path, bool shareWrite)
{
    const HANDLE h = CreateFileW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(path).utf16()),
                                 GENERIC_READ, FILE_SHARE_READ | (shareWrite ? FILE_SHARE_WRITE : 0), nullptr,
                                 OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE)
        m_handle = reinterpret_cast<std::intptr_t>(h);
}

void FileHold::release()
{
    if (m_handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}

} // namespace kp33::test
