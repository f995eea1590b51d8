#include "dialogs/versioninfo.h"

#include <QtEndian>
#include <wchar.h>
#include <string>
#include <vector>
#include <windows.h>

namespace kp33 {

namespace {

// The string items a version block is known to carry. Only the tables that
// its translation entries name are read: the about box looks no further.
const wchar_t *const StringNames[] = {
    L"Comments",        L"CompanyName", L"FileDescription",  L"FileVersion", L"InternalName",
    L"LegalCopyright",  L"LegalTrademarks", L"OriginalFilename", L"PrivateBuild", L"ProductName",
    L"ProductVersion",  L"SpecialBuild",
};

std::wstring ownPath()
{
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n == 0)
            return {};
        if (n < path.size()) {
            path.resize(n);
            return path;
        }
        path.resize(path.size() * 2);
    }
}

std::array<std::uint16_t, 4> fourParts(DWORD ms, DWORD ls)
{
    return {HIWORD(ms), LOWORD(ms), HIWORD(ls), LOWORD(ls)};
}

} // namespace

std::optional<VersionBlock> ProgramFileVersion()
{
    const std::wstring path = ownPath();
    DWORD ignored = 0;
    const DWORD size = path.empty() ? 0 : GetFileVersionInfoSizeW(path.c_str(), &ignored);
    if (size == 0)
        return std::nullopt;
    std::vector<char> data(size + 1);
    if (!GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(data.size()), data.data()))
        return std::nullopt;

    VersionBlock block;
    void *p = nullptr;
    UINT len = 0;
    if (VerQueryValueW(data.data(), L"\\", &p, &len) && len >= sizeof(VS_FIXEDFILEINFO)) {
        const auto *fixed = static_cast<const VS_FIXEDFILEINFO *>(p);
        block.fileVersion = fourParts(fixed->dwFileVersionMS, fixed->dwFileVersionLS);
        block.productVersion = fourParts(fixed->dwProductVersionMS, fixed->dwProductVersionLS);
    }
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation", &p, &len))
        return block;
    block.translation = QByteArray(static_cast<const char *>(p), static_cast<qsizetype>(len));
    for (qsizetype at = 0; at + 4 <= block.translation.size(); at += 4) {
        const auto *entry = reinterpret_cast<const uchar *>(block.translation.constData() + at);
        const QString table = QStringLiteral("%1%2")
                                  .arg(qFromLittleEndian<std::uint16_t>(entry), 4, 16, QLatin1Char('0'))
                                  .arg(qFromLittleEndian<std::uint16_t>(entry + 2), 4, 16, QLatin1Char('0'))
                                  .toUpper();
        for (const wchar_t *name : StringNames) {
            const std::wstring sub = L"\\StringFileInfo\\" + table.toStdWString() + L"\\" + name;
            void *value = nullptr;
            UINT chars = 0;
            if (VerQueryValueW(data.data(), sub.c_str(), &value, &chars)) {
                const auto *text = static_cast<const wchar_t *>(value);
                block.strings[table][QString::fromWCharArray(name)] =
                    QString::fromWCharArray(text, static_cast<qsizetype>(wcsnlen(text, chars)));
            }
        }
    }
    return block;
}

} // namespace kp33
