#include "measurement/datafileio.h"

#include <QFile>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace kp33::datafileio {

namespace {

bool writeAll(int fd, const char *p, std::size_t n)
{
    while (n > 0) {
        const ssize_t w = ::write(fd, p, n);
        if (w < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (w == 0)
            return false;
        p += w;
        n -= static_cast<std::size_t>(w);
    }
    return true;
}

} // namespace

Handle OpenForAppend(const QString &name, Status &status)
{
    status = Status::Failed;
    const QByteArray path = QFile::encodeName(name);
    if (path.isEmpty())
        return NoFile;
    // O_NONBLOCK: opening a FIFO for writing with no reader would otherwise
    // hang the thread; the fstat below then refuses it. It also makes a
    // lease that another program (a file server) holds answer at once,
    // instead of the open waiting for the lease to be given up.
    int fd;
    do {
        fd = ::open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_NONBLOCK | O_CLOEXEC, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) {
        if (errno == EWOULDBLOCK)
            status = Status::Busy;
        return NoFile;
    }
    // Character devices stay allowed: a terminal or /dev/null takes rows.
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
        ::close(fd);
        return NoFile;
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        (void)::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (S_ISREG(st.st_mode) && st.st_size > 0) {
        const int rfd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        char last = '\n';
        if (rfd >= 0) {
            if (::pread(rfd, &last, 1, st.st_size - 1) != 1)
                last = '\n';
            ::close(rfd);
        }
        const std::string_view end = LineEndAfter(last);
        if (!end.empty() && !writeAll(fd, end.data(), end.size())) {
            ::close(fd);
            return NoFile;
        }
    }
    status = Status::Ok;
    return fd;
}

Status WriteRow(Handle file, const char *data, std::size_t size)
{
    const int fd = static_cast<int>(file);
    if (fd < 0 || !writeAll(fd, data, size))
        return Status::Failed;
    // A terminal or other device chosen as the data file cannot be synced;
    // that is no lost row.
    return ::fdatasync(fd) == 0 || errno == EINVAL || errno == EROFS ? Status::Ok : Status::Failed;
}

void Close(Handle file)
{
    if (file >= 0)
        ::close(static_cast<int>(file));
}

} // namespace kp33::datafileio
