// Serial port on POSIX termios.

#include "sensorbus/comport.h"

#include "sensorbus/clock.h"
#include "sensorbus/comport_p.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/serial.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace kp33 {

namespace {

// The open port. The session hands the bus from the main thread to the
// measurement thread and back, never using it from both at once; atomics keep
// the handover visible without a lock on every character.
std::atomic<int> portFd{-1};
std::atomic<bool> portGone{false};

bool isUartName(const std::string &path)
{
    const auto slash = path.find_last_of('/');
    const std::string base = slash == std::string::npos ? path : path.substr(slash + 1);
    return base.compare(0, 4, "ttyS") == 0;
}

void markGone() { portGone.store(true); }

speed_t speedFor(int bitRate)
{
    switch (bitRate) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 38400: return B38400;
    case 57600: return B57600;
    case 115200: return B115200;
    default: return B0;
    }
}

} // namespace

const char *detail::defaultPortPath(int index)
{
    // Two motherboard UARTs, then the first two USB adapters.
    static const std::array<const char *, 4> paths{"/dev/ttyS0", "/dev/ttyS1", "/dev/ttyUSB0", "/dev/ttyUSB1"};
    return paths[static_cast<std::size_t>(index)];
}

bool AccessCOM(const std::string &name)
{
    const std::string path = portPath(name);
    if (path.empty())
        return false;
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISCHR(st.st_mode))
        return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    bool present = ::isatty(fd) == 1;
    // The kernel makes ttyS0..ttyS31 whether or not a UART is fitted; an
    // unfitted one reports type PORT_UNKNOWN.
    if (present && isUartName(path)) {
        serial_struct ss {};
        if (::ioctl(fd, TIOCGSERIAL, &ss) == 0 && ss.type == PORT_UNKNOWN)
            present = false;
    }
    ::close(fd);
    return present;
}

bool OpenCOM(const std::string &name)
{
    CloseCOM();
    const std::string path = portPath(name);
    if (path.empty())
        return false;
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    termios tio {};
    if (!::isatty(fd) || ::tcgetattr(fd, &tio) != 0) {
        ::close(fd);
        return false;
    }
    ::cfmakeraw(&tio);
    tio.c_cflag |= CLOCAL | CREAD;
    tio.c_cflag &= ~(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8;
    tio.c_iflag &= ~(IXON | IXOFF | IXANY);
    // VMIN 1 with O_NONBLOCK: an empty buffer reads as EAGAIN, so a read of 0
    // can only mean hang-up (VMIN 0 would return 0 for "nothing yet").
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    ::cfsetspeed(&tio, B9600);
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        ::close(fd);
        return false;
    }
    // A passive adapter draws its supply from DTR and RTS: keep both up.
    int lines = TIOCM_DTR | TIOCM_RTS;
    (void)::ioctl(fd, TIOCMBIS, &lines);
    // USB adapters otherwise hold each echo back for their latency timer
    // (16 ms by default), which would stretch every slot; a driver that
    // refuses low latency is still usable.
    serial_struct ss {};
    if (::ioctl(fd, TIOCGSERIAL, &ss) == 0) {
        ss.flags |= ASYNC_LOW_LATENCY;
        (void)::ioctl(fd, TIOCSSERIAL, &ss);
    }
    ::tcflush(fd, TCIOFLUSH);
    portGone.store(false);
    portFd.store(fd);
    return true;
}

bool CloseCOM()
{
    const int fd = portFd.exchange(-1);
    portGone.store(false);
    if (fd >= 0)
        ::close(fd);
    return true;
}

bool SetCOMTo(int, int, int, int, int)
{
    // Reads are non-blocking by construction (O_NONBLOCK): nothing to set.
    return portFd.load() >= 0;
}

bool SetModCOM(int bitRate, int dataBits, int, int, int, int)
{
    const int fd = portFd.load();
    if (fd < 0 || portGone.load())
        return false;
    const speed_t speed = speedFor(bitRate);
    if (speed == B0 || dataBits != 8)
        return false;
    termios tio {};
    if (::tcgetattr(fd, &tio) != 0) {
        markGone();
        return false;
    }
    ::cfsetspeed(&tio, speed);
    tio.c_cflag = (tio.c_cflag & ~CSIZE) | CS8;
    if (::tcsetattr(fd, TCSANOW, &tio) != 0) {
        if (errno == EIO || errno == ENODEV || errno == ENXIO)
            markGone();
        return false;
    }
    return true;
}

bool PurgeCOM()
{
    const int fd = portFd.load();
    if (fd < 0 || portGone.load())
        return false;
    return ::tcflush(fd, TCIFLUSH) == 0;
}

std::uint32_t TxDataCOM(const std::uint8_t *data, std::uint32_t count)
{
    const int fd = portFd.load();
    if (fd < 0 || portGone.load() || !data)
        return 0;
    std::uint32_t sent = 0;
    while (sent < count) {
        const ssize_t n = ::write(fd, data + sent, count - sent);
        if (n > 0) {
            sent += static_cast<std::uint32_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR)
            continue;
        // A full output queue (EAGAIN) ends the burst short; the missing
        // echoes then time out like any lost ones.
        if (n < 0 && (errno == EIO || errno == ENODEV || errno == ENXIO))
            markGone();
        break;
    }
    return sent;
}

bool TxByteCOM(std::uint8_t b) { return TxDataCOM(&b, 1) == 1; }

bool RxDataCOM(std::uint8_t *buffer, std::uint32_t wanted, std::uint32_t *received)
{
    if (received)
        *received = 0;
    const int fd = portFd.load();
    if (fd < 0 || portGone.load() || !buffer || wanted == 0)
        return false;
    ssize_t n;
    do {
        n = ::read(fd, buffer, wanted);
    } while (n < 0 && errno == EINTR);
    if (n > 0) {
        if (received)
            *received = static_cast<std::uint32_t>(n);
        return true;
    }
    // read 0 on a terminal in raw non-blocking mode means hang-up; EIO is what
    // a pulled USB adapter or a closed pseudo-terminal master gives.
    if (n == 0 || (errno != EAGAIN && errno != EWOULDBLOCK))
        markGone();
    return n >= 0 || errno == EAGAIN || errno == EWOULDBLOCK;
}

bool WaitRxCOM(int timeoutMs)
{
    if (timeoutMs <= 0)
        return false;
    const int fd = portFd.load();
    if (fd < 0 || portGone.load()) {
        theClock().sleep(static_cast<std::uint32_t>(timeoutMs));
        return false;
    }
    return theClock().waitInput(
        [fd](int ms) {
            pollfd p{fd, POLLIN, 0};
            int r;
            do {
                r = ::poll(&p, 1, ms);
            } while (r < 0 && errno == EINTR);
            return r > 0;
        },
        timeoutMs);
}

bool PortAlive() { return portFd.load() >= 0 && !portGone.load(); }

} // namespace kp33
