// kp33-sensor-sim: a passive serial 1-Wire adapter with one DS18x20 behind a pseudo-terminal.
#include "device.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cmath>
#include <csignal>
#include <deque>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <numbers>
#include <optional>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <utility>

#include <fcntl.h>
#include <poll.h>
#include <sys/inotify.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

using namespace sensorsim;

namespace {

constexpr unsigned kResetRate = 9600, kSlotRate = 115200;
constexpr std::uint8_t kResetByte = 0xF0;
// A master ends a read without telling the device, so a pending vanish waits for the bus to
// fall quiet. Long enough that a sanitized program is never cut off between two slots of
// one read; the 2 s bound covers a program that never collects its last echoes.
constexpr auto kVanishQuiet = std::chrono::milliseconds(200);
constexpr auto kVanishQuietUnread = std::chrono::seconds(2);
// A USB-serial chip sends what it holds at once when its packet is full: 64
// bytes less the two status bytes of an FTDI packet.
constexpr std::size_t kUsbPacketPayload = 62;
// Start bit, eight data bits, stop bit.
constexpr double kBitsPerChar = 10.0;

volatile std::sig_atomic_t g_stop = 0;
void onSignal(int) { g_stop = 1; }

struct UsageError {
    std::string what;
};

[[noreturn]] void usageError(const std::string& what) { throw UsageError{what}; }

const char kUsage[] =
    "usage: kp33-sensor-sim [options]\n"
    "  --link PATH              symlink PATH to the pty slave and print PATH\n"
    "  --family F               ds18b20 (default) | ds18s20 | ds1820 | other\n"
    "  --rom HEX16              ROM in bus order, byte 0 first, used as given\n"
    "  --resolution 9..12       initial DS18B20 resolution (default 12)\n"
    "  --th N, --tl N           initial alarm limits in degC, -128..127 (default 75, 70)\n"
    "  --temp C | --temp-file F | --sine PERIOD_S   temperature source (default 25.0)\n"
    "  --conversion real|instant\n"
    "  --power-on-85            scratchpad reads 85 degC until the first conversion\n"
    "  --no-device              no sensor on the bus at start\n"
    "  --crc-error-rate P       chance per ROM/scratchpad read that one byte is corrupted\n"
    "  --lost-echo-rate P       chance per character that its echo is lost\n"
    "  --line-low               the line is stuck low: every echo is 0x00\n"
    "  --wire-time              each character takes its wire time, 10/baud s\n"
    "  --latency-ms L           echoes held and sent together L ms after the first\n"
    "                           one (at once when 62 are held), as a USB chip does\n"
    "  --lose-echo N            the echo of character N (from 1) is lost\n"
    "  --late-echo N            the echo of character N comes --late-ms later\n"
    "  --late-ms MS             how late that echo comes (default 500)\n"
    "  --unplug-after N, --replug-after M, --vanish-after N\n"
    "  --vanish-at-char N       the adapter vanishes as character N (from 1) comes,\n"
    "                           before its echo: in the middle of a burst\n"
    "  --trace-opens            trace OPEN whenever a program opens the port\n"
    "  --seed N                 seed for the random faults\n"
    "  --control PATH           control FIFO\n"
    "  --trace FILE             event trace ('-' for stderr)\n";

struct Options {
    DeviceConfig device;
    std::optional<Family> family;
    std::optional<Rom> rom;
    std::string link, control, traceFile, tempFile;
    double temp = 25.0;
    double sinePeriod = 0;
    bool noDevice = false, lineLow = false, wireTime = false, traceOpens = false;
    int latencyMs = 0, lateMs = 500;
    long loseEcho = -1, lateEcho = -1;
    double crcRate = 0, lostRate = 0;
    long unplugAfter = -1, replugAfter = -1, vanishAfter = -1, vanishAtChar = -1;
    std::optional<std::uint64_t> seed;
};

template <typename T>
std::optional<T> parse(std::string_view s, T lo, T hi)
{
    T v{};
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), v);
    if (ec != std::errc{} || end != s.data() + s.size() || !(v >= lo && v <= hi))
        return std::nullopt;   // the range test also turns away nan
    return v;
}

template <typename T>
T number(std::string_view opt, std::string_view s, T lo, T hi)
{
    if (const auto v = parse(s, lo, hi))
        return *v;
    std::ostringstream msg;
    msg << opt << ": expected a number in " << +lo << ".." << +hi << ", got '" << s << "'";
    usageError(msg.str());
}

Rom parseRom(std::string_view s)
{
    Rom rom{};
    if (s.size() != 16)
        usageError("--rom: expected 16 hex digits, got '" + std::string(s) + "'");
    for (std::size_t i = 0; i < 8; ++i) {
        const auto [end, ec] = std::from_chars(s.data() + 2 * i, s.data() + 2 * i + 2, rom[i], 16);
        if (ec != std::errc{} || end != s.data() + 2 * i + 2)
            usageError("--rom: expected 16 hex digits, got '" + std::string(s) + "'");
    }
    return rom;
}

Options parseArgs(int argc, char** argv)
{
    Options o;
    bool sourceGiven = false;
    auto source = [&](std::string_view opt) {
        if (sourceGiven)
            usageError(std::string(opt) + ": only one of --temp, --temp-file, --sine");
        sourceGiven = true;
    };
    for (int i = 1; i < argc; ++i) {
        const std::string_view a = argv[i];
        if (a == "--help" || a == "-h") {
            std::fputs(kUsage, stdout);
            std::exit(0);
        }
        if (a == "--power-on-85") { o.device.powerOn85 = true; continue; }
        if (a == "--no-device") { o.noDevice = true; continue; }
        if (a == "--line-low") { o.lineLow = true; continue; }
        if (a == "--wire-time") { o.wireTime = true; continue; }
        if (a == "--trace-opens") { o.traceOpens = true; continue; }
        static constexpr std::string_view valued[] = {
            "--link", "--control", "--trace", "--rom", "--resolution", "--th", "--tl",
            "--crc-error-rate", "--lost-echo-rate", "--unplug-after", "--replug-after",
            "--vanish-after", "--seed", "--temp", "--temp-file", "--sine", "--conversion", "--family",
            "--latency-ms", "--lose-echo", "--late-echo", "--late-ms", "--vanish-at-char"};
        if (std::find(std::begin(valued), std::end(valued), a) == std::end(valued))
            usageError("unknown option '" + std::string(a) + "'");
        if (i + 1 >= argc)
            usageError(std::string(a) + ": missing value");
        const std::string_view v = argv[++i];
        if (a == "--link") o.link = v;
        else if (a == "--control") o.control = v;
        else if (a == "--trace") o.traceFile = v;
        else if (a == "--rom") o.rom = parseRom(v);
        else if (a == "--resolution") o.device.resolution = number(a, v, 9, 12);
        else if (a == "--th") o.device.th = static_cast<std::uint8_t>(number(a, v, -128, 127));
        else if (a == "--tl") o.device.tl = static_cast<std::uint8_t>(number(a, v, -128, 127));
        else if (a == "--crc-error-rate") o.crcRate = number(a, v, 0.0, 1.0);
        else if (a == "--lost-echo-rate") o.lostRate = number(a, v, 0.0, 1.0);
        else if (a == "--unplug-after") o.unplugAfter = number(a, v, 0L, 1L << 30);
        else if (a == "--replug-after") o.replugAfter = number(a, v, 0L, 1L << 30);
        else if (a == "--vanish-after") o.vanishAfter = number(a, v, 0L, 1L << 30);
        else if (a == "--latency-ms") o.latencyMs = number(a, v, 0, 1000);
        else if (a == "--lose-echo") o.loseEcho = number(a, v, 1L, 1L << 30);
        else if (a == "--vanish-at-char") o.vanishAtChar = number(a, v, 1L, 1L << 30);
        else if (a == "--late-echo") o.lateEcho = number(a, v, 1L, 1L << 30);
        else if (a == "--late-ms") o.lateMs = number(a, v, 0, 60000);
        else if (a == "--seed") o.seed = number(a, v, std::uint64_t{0}, ~std::uint64_t{0});
        else if (a == "--temp") { source(a); o.temp = number(a, v, -1e6, 1e6); }
        else if (a == "--temp-file") { source(a); o.tempFile = v; }
        else if (a == "--sine") { source(a); o.sinePeriod = number(a, v, 1e-3, 1e9); }
        else if (a == "--conversion") {
            if (v != "real" && v != "instant")
                usageError("--conversion: expected real or instant, got '" + std::string(v) + "'");
            o.device.instant = v == "instant";
        } else if (a == "--family") {
            if (v == "ds18b20") o.family = Family::DS18B20;
            else if (v == "ds18s20") o.family = Family::DS18S20;
            else if (v == "ds1820") o.family = Family::DS1820;
            else if (v == "other") o.family = Family::Other;
            else usageError("--family: expected ds18b20, ds18s20, ds1820 or other, got '" + std::string(v) + "'");
        }
    }
    return o;
}

std::vector<double> readTempFile(const std::string& path)
{
    std::ifstream in(path);
    if (!in)
        usageError("--temp-file: cannot open '" + path + "'");
    std::vector<double> values;
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        const auto b = line.find_first_not_of(" \t\r");
        if (b == std::string::npos)
            continue;
        const auto e = line.find_last_not_of(" \t\r");
        values.push_back(number("--temp-file line " + std::to_string(n), std::string_view(line).substr(b, e - b + 1), -1e6, 1e6));
    }
    if (values.empty())
        usageError("--temp-file: '" + path + "' holds no values");
    return values;
}

unsigned bitRate(speed_t s)
{
    static const struct { speed_t code; unsigned rate; } table[] = {
        {B0, 0}, {B300, 300}, {B600, 600}, {B1200, 1200}, {B2400, 2400}, {B4800, 4800},
        {B9600, 9600}, {B19200, 19200}, {B38400, 38400}, {B57600, 57600}, {B115200, 115200},
        {B230400, 230400}, {B460800, 460800}, {B500000, 500000}, {B576000, 576000},
        {B921600, 921600}, {B1000000, 1000000}, {B1500000, 1500000}, {B2000000, 2000000},
        {B3000000, 3000000}, {B4000000, 4000000},
    };
    for (const auto& e : table)
        if (e.code == s)
            return e.rate;
    return static_cast<unsigned>(s);
}

bool isRaw(const termios& t)
{
    return !(t.c_lflag & (ICANON | ECHO | ECHONL | ISIG | IEXTEN)) && !(t.c_oflag & OPOST) &&
           !(t.c_iflag & (ISTRIP | INLCR | IGNCR | ICRNL | IXON | PARMRK)) &&
           (t.c_cflag & CSIZE) == CS8 && !(t.c_cflag & PARENB);
}

class Simulator {
public:
    Simulator(const Options& o, std::vector<double> tempValues);
    ~Simulator();
    bool start();
    void run();

private:
    bool openPort();
    void closePort();
    bool pointLink();
    void onMasterReadable(short revents);
    void onControlReadable();
    void watchOpens();
    void onOpensReadable();
    void onControlLine(std::string line);
    void onChar(std::uint8_t c);
    std::uint8_t busChar(std::uint8_t c, unsigned rate);
    std::uint8_t resetPulse(std::uint8_t c);
    void queueEcho(std::uint8_t e, unsigned rate);
    void deliverDue();
    void echo(const std::uint8_t* e, std::size_t n);
    std::optional<Clock::duration> nextEchoIn() const;
    void unplug();
    void plug();
    void vanish();
    int vanishWhenQuiet();
    void countScratchpadRead();
    void armCounters();
    bool chance(double p) { return p > 0 && static_cast<double>(rng_() >> 11) * 0x1.0p-53 < p; }
    double temperature(bool consume);
    void trace(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    Options opt_;
    std::vector<double> tempValues_;
    std::size_t tempIndex_ = 0;
    Clock::time_point started_ = Clock::now();
    Clock::time_point lastChar_ = started_;
    std::mt19937_64 rng_;
    FILE* trace_ = nullptr;
    Device device_;

    int master_ = -1, slave_ = -1, control_ = -1;
    // Opens of the slave by anyone else, seen as inotify events on its node
    // (only a program's open can change the line settings or the modem lines).
    int opens_ = -1, opensWatch_ = -1;
    std::string slavePath_, controlBuf_;
    bool controlCreated_ = false;
    bool wasRaw_ = true;
    bool echoBlocked_ = false;
    // The adapter takes no characters (a driver that never drains its output
    // queue); the program's writes pile up in the pty until they block.
    bool stalled_ = false;

    // The adapter's echo path: an echo waits in wire_ until its character
    // has gone out, then, with a latency timer, in held_ until the chip sends
    // what it holds.
    struct PendingEcho {
        Clock::time_point due;
        std::uint8_t value;
        bool late;
    };
    std::deque<PendingEcho> wire_;
    std::vector<std::uint8_t> held_;
    Clock::time_point heldUntil_{};
    Clock::time_point lineFree_{};
    long chars_ = 0;

    bool present_, vanished_ = false;
    long reads_ = 0, unanswered_ = 0;
    bool unplugPending_ = false, vanishPending_ = false, unplugArmed_, vanishArmed_;
};

Simulator::Simulator(const Options& o, std::vector<double> tempValues)
    : opt_(o), tempValues_(std::move(tempValues)),
      rng_(o.seed ? *o.seed : std::random_device{}()),
      device_(
          o.device,
          DeviceHooks{
              [this](const std::string& s) { trace("%s", s.c_str()); },
              [this](bool consume) { return temperature(consume); },
              [this](Bytes& b) {
                  if (!chance(opt_.crcRate))
                      return;
                  const auto i = static_cast<std::size_t>(rng_() % b.size());
                  b[i] ^= static_cast<std::uint8_t>(1u << (rng_() % 8));
                  trace("FAULT crc byte=%zu", i);
              },
              [this] { countScratchpadRead(); },
          }),
      present_(!o.noDevice), unplugArmed_(o.unplugAfter >= 0), vanishArmed_(o.vanishAfter >= 0)
{
    armCounters();
}

Simulator::~Simulator()
{
    closePort();
    if (control_ >= 0)
        ::close(control_);
    if (opens_ >= 0)
        ::close(opens_);
    if (controlCreated_)
        ::unlink(opt_.control.c_str());
    if (trace_ && trace_ != stderr)
        std::fclose(trace_);
}

double Simulator::temperature(bool consume)
{
    if (!tempValues_.empty()) {
        const double v = tempValues_[tempIndex_];
        if (consume && tempIndex_ + 1 < tempValues_.size())
            ++tempIndex_;
        return v;
    }
    if (opt_.sinePeriod > 0) {
        const double t = std::chrono::duration<double>(Clock::now() - started_).count();
        return 20.0 + 10.0 * std::sin(2 * std::numbers::pi * t / opt_.sinePeriod);
    }
    return opt_.temp;
}

void Simulator::trace(const char* fmt, ...)
{
    if (!trace_)
        return;
    va_list ap;
    va_start(ap, fmt);
    std::vfprintf(trace_, fmt, ap);
    va_end(ap);
    std::fputc('\n', trace_);
    std::fflush(trace_);
}

bool Simulator::start()
{
    if (!opt_.traceFile.empty()) {
        trace_ = opt_.traceFile == "-" ? stderr : std::fopen(opt_.traceFile.c_str(), "w");
        if (!trace_)
            usageError("--trace: cannot open '" + opt_.traceFile + "': " + std::strerror(errno));
    }
    if (!opt_.link.empty()) {
        struct stat st {};
        if (::lstat(opt_.link.c_str(), &st) == 0 && !S_ISLNK(st.st_mode))
            usageError("--link: '" + opt_.link + "' exists and is not a symlink");
    }
    if (!opt_.control.empty()) {
        struct stat st {};
        if (::stat(opt_.control.c_str(), &st) == 0) {
            if (!S_ISFIFO(st.st_mode))
                usageError("--control: '" + opt_.control + "' exists and is not a FIFO");
        } else if (::mkfifo(opt_.control.c_str(), 0600) == 0) {
            controlCreated_ = true;
        } else {
            usageError("--control: cannot create '" + opt_.control + "': " + std::strerror(errno));
        }
        // Opened read-write so the FIFO never reports end-of-file when a writer goes away.
        control_ = ::open(opt_.control.c_str(), O_RDWR | O_NONBLOCK | O_CLOEXEC);
        if (control_ < 0)
            usageError("--control: cannot open '" + opt_.control + "': " + std::strerror(errno));
    }
    return openPort();
}

bool Simulator::openPort()
{
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    char name[128];
    if (master_ < 0 || ::grantpt(master_) != 0 || ::unlockpt(master_) != 0 ||
        ::ptsname_r(master_, name, sizeof name) != 0) {
        std::fprintf(stderr, "kp33-sensor-sim: cannot open a pseudo-terminal: %s\n", std::strerror(errno));
        closePort();
        return false;
    }
    slavePath_ = name;
    // Our own slave descriptor keeps the pty alive while the program under test closes and
    // reopens the port, and lets us read the bit rate it set.
    slave_ = ::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC);
    const int flags = ::fcntl(master_, F_GETFL);
    if (slave_ < 0 || flags < 0 || ::fcntl(master_, F_SETFL, flags | O_NONBLOCK) != 0) {
        std::fprintf(stderr, "kp33-sensor-sim: cannot open %s: %s\n", name, std::strerror(errno));
        closePort();
        return false;
    }
    if (opt_.traceOpens)
        watchOpens();
    if (!opt_.link.empty() && !pointLink()) {
        closePort();
        return false;
    }
    wasRaw_ = true;
    echoBlocked_ = false;
    std::printf("%s\n", opt_.link.empty() ? slavePath_.c_str() : opt_.link.c_str());
    std::fflush(stdout);
    return true;
}

// Our own slave descriptor is already open, so every event from here on is
// another process's open.
void Simulator::watchOpens()
{
    if (opens_ < 0)
        opens_ = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    if (opens_ < 0) {
        trace("ERROR cannot watch opens: %s", std::strerror(errno));
        return;
    }
    if (opensWatch_ >= 0)
        ::inotify_rm_watch(opens_, opensWatch_);
    // Closes are watched too, only so that open, close, open are three
    // events: inotify merges an event with an identical one still unread.
    opensWatch_ = ::inotify_add_watch(opens_, slavePath_.c_str(), IN_OPEN | IN_CLOSE);
    if (opensWatch_ < 0)
        trace("ERROR cannot watch opens of %s: %s", slavePath_.c_str(), std::strerror(errno));
}

void Simulator::onOpensReadable()
{
    alignas(inotify_event) char buf[4096];
    ssize_t n;
    while ((n = ::read(opens_, buf, sizeof buf)) > 0) {
        for (char* p = buf; p < buf + n;) {
            const auto* e = reinterpret_cast<const inotify_event*>(p);
            if (e->wd == opensWatch_ && (e->mask & IN_OPEN))
                trace("OPEN");
            p += sizeof(inotify_event) + e->len;
        }
    }
}

bool Simulator::pointLink()
{
    // Build the new link beside the old one and rename it over, so a stale link is replaced
    // without a moment where the path is missing.
    const std::string tmp = opt_.link + ".tmp" + std::to_string(::getpid());
    ::unlink(tmp.c_str());
    if (::symlink(slavePath_.c_str(), tmp.c_str()) != 0 || ::rename(tmp.c_str(), opt_.link.c_str()) != 0) {
        std::fprintf(stderr, "kp33-sensor-sim: cannot link %s: %s\n", opt_.link.c_str(), std::strerror(errno));
        ::unlink(tmp.c_str());
        return false;
    }
    return true;
}

void Simulator::closePort()
{
    // Echoes still on their way go with the adapter.
    wire_.clear();
    held_.clear();
    if (!opt_.link.empty() && !slavePath_.empty()) {
        char target[256];
        const ssize_t n = ::readlink(opt_.link.c_str(), target, sizeof target - 1);
        if (n >= 0 && std::string_view(target, static_cast<std::size_t>(n)) == slavePath_)
            ::unlink(opt_.link.c_str());
    }
    if (slave_ >= 0)
        ::close(slave_);
    if (master_ >= 0)
        ::close(master_);
    slave_ = master_ = -1;
    slavePath_.clear();
}

void Simulator::run()
{
    sigset_t waitMask;
    ::sigprocmask(SIG_SETMASK, nullptr, &waitMask);
    ::sigdelset(&waitMask, SIGTERM);
    ::sigdelset(&waitMask, SIGINT);
    ::sigdelset(&waitMask, SIGHUP);
    while (!g_stop) {
        deliverDue();
        std::optional<Clock::duration> wait;
        if (const int vanishMs = vanishWhenQuiet(); vanishMs >= 0)
            wait = std::chrono::milliseconds(vanishMs);
        // Wake for the next echo that falls due, to the microsecond.
        if (const auto echoIn = nextEchoIn(); echoIn && (!wait || *echoIn < *wait))
            wait = echoIn;
        timespec waitTs{};
        if (wait) {
            const auto ns = std::chrono::ceil<std::chrono::nanoseconds>(*wait).count();
            waitTs = {static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
        }
        pollfd fds[3];
        nfds_t n = 0;
        const int masterAt = master_ >= 0 && !stalled_ ? static_cast<int>(n) : -1;
        if (masterAt >= 0)
            fds[n++] = {master_, POLLIN, 0};
        const int controlAt = control_ >= 0 ? static_cast<int>(n) : -1;
        if (control_ >= 0)
            fds[n++] = {control_, POLLIN, 0};
        const int opensAt = opens_ >= 0 ? static_cast<int>(n) : -1;
        if (opens_ >= 0)
            fds[n++] = {opens_, POLLIN, 0};
        // Termination signals stay blocked except inside ppoll, so none slips in between.
        if (::ppoll(fds, n, wait ? &waitTs : nullptr, &waitMask) < 0) {
            if (errno == EINTR)
                continue;
            std::perror("kp33-sensor-sim: ppoll");
            return;
        }
        // Before the port: a program opens the port before it sends, so its
        // OPEN comes before the characters read in the same round.
        if (opensAt >= 0 && fds[opensAt].revents)
            onOpensReadable();
        if (masterAt >= 0 && fds[masterAt].revents)
            onMasterReadable(fds[masterAt].revents);
        if (controlAt >= 0 && fds[controlAt].revents)
            onControlReadable();
    }
}

// Returns how long ppoll may sleep before the pending vanish needs another look (-1: none).
int Simulator::vanishWhenQuiet()
{
    if (!vanishPending_ || master_ < 0)
        return -1;
    const auto quiet = Clock::now() - lastChar_;
    int unread = 0;
    if (quiet >= kVanishQuietUnread ||
        (quiet >= kVanishQuiet && wire_.empty() && held_.empty() &&
         ::ioctl(slave_, FIONREAD, &unread) == 0 && unread == 0)) {
        vanish();
        return -1;
    }
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(
        quiet < kVanishQuiet ? kVanishQuiet - quiet : std::chrono::milliseconds(20));
    return static_cast<int>(left.count());
}

void Simulator::onMasterReadable(short revents)
{
    std::uint8_t buf[512];
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n > 0) {
        for (ssize_t i = 0; i < n && master_ >= 0; ++i)
            onChar(buf[i]);
        return;
    }
    if (n < 0 && errno == EAGAIN && !(revents & (POLLHUP | POLLERR)))
        return;
    // Only a hang-up of the slave side gets here (we hold a slave descriptor, so plain
    // closes by the program never do). Treat it as the adapter going away rather than
    // spin on a descriptor that stays ready.
    trace("ERROR pty hang-up");
    vanish();
}

void Simulator::onChar(std::uint8_t c)
{
    lastChar_ = Clock::now();
    termios t{};
    const bool haveTermios = ::tcgetattr(slave_, &t) == 0;
    const bool raw = haveTermios && isRaw(t);
    if (wasRaw_ && !raw)
        trace("ERROR port not in raw mode");
    wasRaw_ = raw;
    const unsigned rate = haveTermios ? bitRate(::cfgetospeed(&t)) : 0;
    const bool resetPulseShape = rate == kResetRate && (c & 0x0F) == 0;
    if (vanishPending_ && resetPulseShape) {
        vanish();
        return;
    }
    ++chars_;
    if (chars_ == opt_.vanishAtChar) {
        vanish();
        return;
    }
    const bool lost = chance(opt_.lostRate) || chars_ == opt_.loseEcho;
    if (lost)
        trace("FAULT lost-echo");
    std::uint8_t e = 0x00;
    if (opt_.lineLow)
        device_.hold();
    else
        e = busChar(c, rate);
    // With ECHO on, the tty would send each echo straight back to us as a new character,
    // and echo and copy would chase each other for ever (a real adapter does the same at line
    // speed). Staying silent keeps this deterministic; a canonical-mode reader would not see
    // the echoes anyway.
    if (!lost && !(haveTermios && (t.c_lflag & ECHO)))
        queueEcho(e, rate);
}

void Simulator::queueEcho(std::uint8_t e, unsigned rate)
{
    const auto now = Clock::now();
    auto due = now;
    if (opt_.wireTime && rate > 0) {
        // The character goes out when the line is free and takes 10 bit
        // times; its echo is complete only then.
        const auto start = std::max(now, lineFree_);
        lineFree_ = start + std::chrono::duration_cast<Clock::duration>(
                                std::chrono::duration<double>(kBitsPerChar / rate));
        due = lineFree_;
    }
    const bool late = chars_ == opt_.lateEcho;
    if (late) {
        trace("FAULT late-echo");
        due += std::chrono::milliseconds(opt_.lateMs);
    }
    // Kept in order of falling due; only a late echo ever lands behind later ones.
    auto at = wire_.end();
    while (at != wire_.begin() && std::prev(at)->due > due)
        --at;
    wire_.insert(at, PendingEcho{due, e, late});
    deliverDue();
}

void Simulator::deliverDue()
{
    if (master_ < 0)
        return;
    const auto now = Clock::now();
    const auto latency = std::chrono::milliseconds(opt_.latencyMs);
    std::vector<std::uint8_t> out;
    while (!wire_.empty() && wire_.front().due <= now) {
        const PendingEcho p = wire_.front();
        wire_.pop_front();
        if (p.late)
            trace("FAULT late-echo sent");
        if (opt_.latencyMs == 0) {
            out.push_back(p.value);
            continue;
        }
        // The latency timer starts with the first echo the chip holds.
        if (held_.empty())
            heldUntil_ = p.due + latency;
        held_.push_back(p.value);
        if (held_.size() >= kUsbPacketPayload) {
            echo(held_.data(), held_.size());
            held_.clear();
        }
    }
    if (!out.empty())
        echo(out.data(), out.size());
    if (!held_.empty() && heldUntil_ <= now) {
        echo(held_.data(), held_.size());
        held_.clear();
    }
}

std::optional<Clock::duration> Simulator::nextEchoIn() const
{
    std::optional<Clock::time_point> next;
    if (!wire_.empty())
        next = wire_.front().due;
    if (!held_.empty() && (!next || heldUntil_ < *next))
        next = heldUntil_;
    if (!next)
        return std::nullopt;
    return std::max(Clock::duration::zero(), *next - Clock::now());
}

std::uint8_t Simulator::busChar(std::uint8_t c, unsigned rate)
{
    if (rate == kResetRate) {
        // The line must stay low for the start bit plus four data bits (>= 480 us) to reset.
        if ((c & 0x0F) != 0) {
            trace("ERROR unexpected byte 0x%02X at rate=%u", c, rate);
            return c;
        }
        if (c != kResetByte)
            trace("ERROR unexpected reset byte 0x%02X", c);
        return resetPulse(c);
    }
    if (rate == kSlotRate && c != kResetByte) {
        const bool masterBit = c & 1;
        const bool level = present_ ? device_.slot(masterBit) : true;
        return masterBit && !level ? static_cast<std::uint8_t>(c & 0xFE) : c;
    }
    trace(c == kResetByte ? "ERROR reset at rate=%u" : "ERROR slot at rate=%u", rate);
    return c;
}

std::uint8_t Simulator::resetPulse(std::uint8_t c)
{
    if (unplugPending_) {
        unplugPending_ = false;
        if (present_)
            unplug();
    }
    if (!present_ && opt_.replugAfter >= 0 && unanswered_ >= opt_.replugAfter)
        plug();
    if (!present_) {
        ++unanswered_;
        trace("RESET rate=%u presence=0", kResetRate);
        return c;
    }
    device_.reset();
    trace("RESET rate=%u presence=1", kResetRate);
    // The presence pulse starts shortly after the master releases the line, so it pulls
    // the first high data bit low: 0xF0 comes back as 0xE0.
    return static_cast<std::uint8_t>(c & (c - 1));
}

void Simulator::echo(const std::uint8_t* e, std::size_t n)
{
    // The master is non-blocking: a program that stops reading must not stall the simulator.
    // One line per run of lost echoes keeps such a program from flooding the trace.
    const bool ok = ::write(master_, e, n) == static_cast<ssize_t>(n);
    if (!ok && !echoBlocked_)
        trace("ERROR echo dropped: %s", std::strerror(errno));
    echoBlocked_ = !ok;
}

void Simulator::countScratchpadRead()
{
    ++reads_;
    armCounters();
}

// The read that reaches a count is still answered in full: an unplug takes effect at the
// next reset pulse, a vanish at that pulse or once the master has gone quiet.
void Simulator::armCounters()
{
    if (unplugArmed_ && reads_ >= opt_.unplugAfter) {
        unplugArmed_ = false;
        unplugPending_ = true;
    }
    if (vanishArmed_ && reads_ >= opt_.vanishAfter) {
        vanishArmed_ = false;
        vanishPending_ = true;
    }
}

void Simulator::unplug()
{
    trace("FAULT unplug");
    present_ = false;
    unanswered_ = 0;
}

void Simulator::plug()
{
    trace("FAULT plug");
    if (vanished_) {
        if (!openPort()) {
            trace("ERROR cannot re-create the port");
            return;
        }
        vanished_ = false;
    }
    present_ = true;
    unanswered_ = 0;
    device_.powerOn();
}

void Simulator::vanish()
{
    trace("FAULT vanish");
    closePort();
    vanished_ = true;
    vanishPending_ = false;
}

void Simulator::onControlReadable()
{
    char buf[256];
    ssize_t n;
    while ((n = ::read(control_, buf, sizeof buf)) > 0) {
        controlBuf_.append(buf, static_cast<std::size_t>(n));
        std::size_t nl;
        while ((nl = controlBuf_.find('\n')) != std::string::npos) {
            std::string line = controlBuf_.substr(0, nl);
            controlBuf_.erase(0, nl + 1);
            onControlLine(std::move(line));
        }
        if (controlBuf_.size() > 1024) {
            trace("ERROR control line too long");
            controlBuf_.clear();
        }
    }
}

void Simulator::onControlLine(std::string line)
{
    std::istringstream words(line);
    std::string cmd, a, b, extra;
    words >> cmd >> a >> b >> extra;
    if (cmd.empty())
        return;
    const bool none = a.empty(), one = !a.empty() && b.empty(), two = !b.empty() && extra.empty();
    std::optional<double> v;
    if (cmd == "temp" && one && (v = parse(a, -1e6, 1e6))) {
        tempValues_.clear();
        opt_.sinePeriod = 0;
        opt_.temp = *v;
    } else if (cmd == "unplug" && none) {
        if (present_)
            unplug();
        else
            trace("ERROR unplug: no device to unplug");
    } else if (cmd == "plug" && none) {
        if (vanished_ || !present_)
            plug();
        else
            trace("ERROR plug: nothing is unplugged");
    } else if (cmd == "vanish" && none) {
        if (!vanished_)
            vanish();
        else
            trace("ERROR vanish: port already gone");
    } else if (cmd == "fault" && two && a == "crc" && (v = parse(b, 0.0, 1.0))) {
        opt_.crcRate = *v;
        trace("FAULT crc rate=%g", opt_.crcRate);
    } else if (cmd == "fault" && two && a == "lost" && (v = parse(b, 0.0, 1.0))) {
        opt_.lostRate = *v;
        trace("FAULT lost rate=%g", opt_.lostRate);
    } else if (cmd == "fault" && two && a == "stall" && (b == "on" || b == "off")) {
        // What piled up while stalled is not sent on: the adapter lost it.
        if (stalled_ && b == "off" && master_ >= 0)
            ::tcflush(master_, TCIFLUSH);
        stalled_ = b == "on";
        trace("FAULT stall %s", b.c_str());
    } else if (cmd == "fault" && two && a == "line-low" && (b == "on" || b == "off")) {
        opt_.lineLow = b == "on";
        trace("FAULT line-low %s", b.c_str());
    } else {
        line.erase(line.find_last_not_of(" \t\r") + 1);
        trace("ERROR unknown control line '%s'", line.c_str());
    }
}

Rom defaultRom(Family f)
{
    // Serial bytes 5..6 decide DS1820 (< 8) against DS18S20 (>= 8) within family 0x10.
    Rom rom{};
    switch (f) {
    case Family::DS18B20: rom = {0x28, 0x3F, 0x9E, 0x79, 0xA2, 0x16, 0x03, 0}; break;
    case Family::DS18S20: rom = {0x10, 0xB8, 0xC5, 0xD4, 0x02, 0x08, 0x00, 0}; break;
    case Family::DS1820:  rom = {0x10, 0xB2, 0xA1, 0xC3, 0x00, 0x05, 0x00, 0}; break;
    case Family::Other:   rom = {0x22, 0x3D, 0x2C, 0x1B, 0x0A, 0x00, 0x00, 0}; break;
    }
    rom[7] = crc8(rom.data(), 7);
    return rom;
}

Family familyOfRom(const Rom& rom)
{
    if (rom[0] == 0x28)
        return Family::DS18B20;
    if (rom[0] == 0x10)
        return rom[6] * 256 + rom[5] < 8 ? Family::DS1820 : Family::DS18S20;
    return Family::Other;
}

}  // namespace

int main(int argc, char** argv)
{
    // Block the termination signals before anything else: they are taken only inside ppoll,
    // and a parent that dies before prctl below still shows up in getppid.
    const pid_t parent = ::getppid();
    sigset_t term;
    sigemptyset(&term);
    sigaddset(&term, SIGTERM);
    sigaddset(&term, SIGINT);
    sigaddset(&term, SIGHUP);
    ::sigprocmask(SIG_BLOCK, &term, nullptr);
    struct sigaction sa {};
    sa.sa_handler = onSignal;
    sigemptyset(&sa.sa_mask);
    for (int s : {SIGTERM, SIGINT, SIGHUP})
        ::sigaction(s, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);
    if (::getppid() != parent)
        return 0;

    try {
        Options o = parseArgs(argc, argv);
        std::vector<double> temps;
        if (!o.tempFile.empty())
            temps = readTempFile(o.tempFile);
        o.device.rom = o.rom ? *o.rom : defaultRom(o.family.value_or(Family::DS18B20));
        o.device.family = o.family ? *o.family : familyOfRom(o.device.rom);
        Simulator sim(o, std::move(temps));
        if (!sim.start())
            return 1;
        sim.run();
    } catch (const UsageError& e) {
        std::fprintf(stderr, "kp33-sensor-sim: %s\n%s", e.what.c_str(), kUsage);
        return 2;
    }
    return 0;
}
