#pragma once
// The data file's few calls into the operating system: open for appending,
// one row in one write that is then on the disk, close.

#include <QString>
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kp33::datafileio {

// An open data file: a descriptor on Linux, a HANDLE on Windows.
using Handle = std::intptr_t;
inline constexpr Handle NoFile = -1;

// How an open or a write ended. Busy: another program holds the file
// (Windows: a sharing or lock violation; Linux: a lease held on it), which
// passes once that program lets go. Failed: anything else — no disk, no
// permission, a device, a name that cannot be a file.
enum class Status : std::uint8_t { Ok, Busy, Failed };

// Opens name for appending, creating it when missing. NoFile when it cannot
// be opened or is nothing a row can go to: a directory, a FIFO or a socket
// (which would block), on Windows any device; status says why. A last row
// cut short (no line end, as a power failure leaves it) is ended first, so
// rows never glue.
Handle OpenForAppend(const QString &name, Status &status);

// All of data in one write, then flushed to the disk. Anything but Ok when
// either failed: a row that did not reach the disk is no recorded row. Busy
// only when nothing of data was written.
Status WriteRow(Handle file, const char *data, std::size_t size);

// Harmless with NoFile.
void Close(Handle file);

// What ends a file whose last character is last, so the next row starts on a
// line of its own: nothing after a line end, the missing half of a CR LF
// after a lone CR, a whole CR LF after anything else.
inline std::string_view LineEndAfter(char last)
{
    return last == '\n' ? std::string_view() : last == '\r' ? std::string_view("\n") : std::string_view("\r\n");
}

} // namespace kp33::datafileio
