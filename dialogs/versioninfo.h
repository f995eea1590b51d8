#pragma once
// The program's version items. The build puts them into the program (see
// about.cmake): on Windows as the program file's version resource, on Linux
// as data compiled in. The about box asks for them by the names a version
// block answers to: "\VarFileInfo\Translation" and
// "\StringFileInfo\041904E3\FileVersion".

#include <QByteArray>
#include <QMap>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>

namespace kp33 {

struct VersionBlock {
    // Fixed part: four numbers each, major first.
    std::array<std::uint16_t, 4> fileVersion{};
    std::array<std::uint16_t, 4> productVersion{};
    // "\VarFileInfo\Translation": pairs of 16-bit little-endian numbers,
    // language then code page.
    QByteArray translation;
    // "\StringFileInfo\<block>\<name>", e.g. strings["041904E3"]["FileVersion"].
    QMap<QString, QMap<QString, QString>> strings;

    // Names are matched without regard to case, as a version block does.
    // nullopt: no such value.
    std::optional<QByteArray> queryValue(const QString &subBlock) const;
    std::optional<QString> queryString(const QString &subBlock) const;
};

// What this build put into the program.
VersionBlock BuiltInVersion();

// The block of the running program's own file, nullopt when it has none:
// on Windows read from the file's version resource, elsewhere BuiltInVersion().
std::optional<VersionBlock> ProgramFileVersion();

// The block the about box reads: ProgramFileVersion() unless a test stands
// in for it.
std::optional<VersionBlock> ProgramVersion();
// Test seam: stand in for a build with other items, or none at all
// (SetProgramVersion(std::nullopt)), until RestoreProgramVersion().
void SetProgramVersion(std::optional<VersionBlock> block);
void RestoreProgramVersion();

// "Версия: " and the FileVersion without everything from its second-last
// full stop on ("1.1.0.41" -> "Версия: 1.1", "1.2" -> "Версия: "); "0.0" when
// the block, its translation or its FileVersion is missing.
QString VersionText(const std::optional<VersionBlock> &block);
QString VersionText();

} // namespace kp33
