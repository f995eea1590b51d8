#include "dialogs/versioninfo.h"

#include "versiondata.h"

#include <QtEndian>

namespace kp33 {

namespace {

// A path of names below the root, "\A\B" -> {"A", "B"}. Empty names in the
// middle stay, so "\StringFileInfo\\FileVersion" names nothing.
QStringList names(const QString &subBlock)
{
    QStringList parts = subBlock.split(QLatin1Char('\\'));
    if (!parts.isEmpty() && parts.first().isEmpty())
        parts.removeFirst();
    return parts;
}

template <typename Map> auto find(const Map &map, const QString &key)
{
    for (auto it = map.cbegin(); it != map.cend(); ++it)
        if (it.key().compare(key, Qt::CaseInsensitive) == 0)
            return it;
    return map.cend();
}

QString hex4(std::uint16_t v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')).toUpper(); }

struct Installed {
    bool overridden = false;
    std::optional<VersionBlock> block;
};

Installed &installed()
{
    static Installed i;
    return i;
}

} // namespace

std::optional<QByteArray> VersionBlock::queryValue(const QString &subBlock) const
{
    const QStringList n = names(subBlock);
    if (n.size() == 2 && n[0].compare(QLatin1String("VarFileInfo"), Qt::CaseInsensitive) == 0 &&
        n[1].compare(QLatin1String("Translation"), Qt::CaseInsensitive) == 0 && !translation.isNull())
        return translation;
    return std::nullopt;
}

std::optional<QString> VersionBlock::queryString(const QString &subBlock) const
{
    const QStringList n = names(subBlock);
    if (n.size() != 3 || n[0].compare(QLatin1String("StringFileInfo"), Qt::CaseInsensitive) != 0)
        return std::nullopt;
    const auto table = find(strings, n[1]);
    if (table == strings.cend())
        return std::nullopt;
    const auto value = find(*table, n[2]);
    if (value == table->cend())
        return std::nullopt;
    return *value;
}

VersionBlock BuiltInVersion()
{
    namespace b = builtversion;
    VersionBlock v;
    v.fileVersion = b::FileVersionFixed;
    v.productVersion = b::ProductVersionFixed;
    v.translation.resize(4);
    qToLittleEndian(b::Language, v.translation.data());
    qToLittleEndian(b::CodePage, v.translation.data() + 2);
    v.strings[hex4(b::Language) + hex4(b::CodePage)] = {
        {QStringLiteral("FileVersion"), QString::fromUtf8(b::FileVersion)},
        {QStringLiteral("ProductVersion"), QString::fromUtf8(b::ProductVersion)},
        {QStringLiteral("FileDescription"), QString::fromUtf8(b::FileDescription)},
    };
    return v;
}

std::optional<VersionBlock> ProgramVersion()
{
    return installed().overridden ? installed().block : ProgramFileVersion();
}

void SetProgramVersion(std::optional<VersionBlock> block) { installed() = {true, std::move(block)}; }

void RestoreProgramVersion() { installed() = {}; }

QString VersionText(const std::optional<VersionBlock> &block)
{
    const QString none = QStringLiteral("0.0.0.0");
    QString version = none;
    if (block) {
        // Only the first language and code page count, even when others follow.
        QString table;
        const auto translation = block->queryValue(QStringLiteral("\\VarFileInfo\\Translation"));
        if (translation && translation->size() >= 4) {
            const auto *p = reinterpret_cast<const uchar *>(translation->constData());
            table = hex4(qFromLittleEndian<std::uint16_t>(p)) + hex4(qFromLittleEndian<std::uint16_t>(p + 2));
        }
        const auto fileVersion =
            block->queryString(QStringLiteral("\\StringFileInfo\\") + table + QStringLiteral("\\FileVersion"));
        // An empty string is the terminator alone: too short to be a version.
        version = fileVersion && !fileVersion->isEmpty() ? *fileVersion : none;
    }
    for (int stops = 0; stops < 2 && !version.isEmpty(); version.chop(1))
        if (version.back() == QLatin1Char('.'))
            ++stops;
    return QStringLiteral("Версия: ") + version;
}

QString VersionText() { return VersionText(ProgramVersion()); }

} // namespace kp33
