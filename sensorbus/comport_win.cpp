// Serial port on the Win32 communications API.
//
// What holds a caller how long: reads, writes and the wait for input are
// overlapped and bounded. A read or write gets OperationBoundMs to finish
// and then CancelBoundMs for its cancel; the wait for input gets its own
// time-out, then OperationBoundMs to end on a new mask and CancelBoundMs for
// a cancel. An operation that outlives all that is left to the driver (see
// IoBlock) and the port counts as gone. Everything else - the open
// (CreateFileW), the state, time-out, mask, purge and status requests and
// the close - is a synchronous request that Windows waits on for as long as
// the driver takes, and nothing here can bound it. Drivers answer those in
// milliseconds; the open is the one that can take seconds (a Bluetooth port
// connects to its far end), which is why the port probe never opens a port.

#include "sensorbus/comport.h"

#include "sensorbus/clock.h"
#include "sensorbus/comport_p.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <cstring>
#include <memory>
#include <vector>

namespace kp33 {

namespace {

// The open port. The session hands the bus from the main thread to the
// measurement thread and back, never using it from both at once; atomics keep
// the handover visible without a lock on every character. The handle is
// opened for overlapped I/O so that every read, write and wait for input can
// end at a deadline.
std::atomic<HANDLE> portHandle{INVALID_HANDLE_VALUE};
std::atomic<bool> portGone{false};

// A burst of slots takes about 10 ms on the wire; an operation that has not
// finished in half a second (a console UART that never drains, a hanging
// driver) is cancelled rather than freezing the window or the thread.
constexpr DWORD OperationBoundMs = 500;
// A cancel normally takes effect at once; a driver that has not completed the
// operation by then still holds its OVERLAPPED and buffer (see IoBlock).
constexpr DWORD CancelBoundMs = 500;

// One overlapped operation's memory: its OVERLAPPED, its event and a bounce
// buffer that the driver reads from or fills. While an operation is pending
// the driver owns all three (CancelIoEx: not to be freed or reused until the
// operation has completed), so none of them lives in a caller's frame.
struct IoBlock {
    OVERLAPPED ov{};
    HANDLE event = nullptr;
    std::vector<std::uint8_t> buffer;
    DWORD mask = 0; // what WaitCommEvent reports

    IoBlock() = default;
    IoBlock(const IoBlock &) = delete;
    IoBlock &operator=(const IoBlock &) = delete;
    ~IoBlock()
    {
        if (event)
            ::CloseHandle(event);
    }
};

// One block per kind of operation, used again only once its last operation
// has completed. Only the thread that holds the bus touches them.
std::unique_ptr<IoBlock> readBlock, writeBlock, waitBlock;

IoBlock *block(std::unique_ptr<IoBlock> &slot)
{
    if (!slot) {
        auto b = std::make_unique<IoBlock>();
        b->event = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        if (!b->event)
            return nullptr;
        slot = std::move(b);
    }
    return slot.get();
}

// The driver neither finished nor cancelled the block's operation, and may
// still complete it into the block at any time: leave the block to it for
// the rest of the run (deliberately never freed), and take a fresh one next
// time. The port then counts as gone, so this costs at most one block per
// kind of operation and open port.
void abandon(std::unique_ptr<IoBlock> &slot)
{
    [[maybe_unused]] IoBlock *leftToDriver = slot.release();
    portGone.store(true);
}

// "COM12" and "\\.\COM12" alike name the DOS device COM12.
std::wstring dosName(const std::string &path)
{
    std::wstring w(path.begin(), path.end());
    if (w.rfind(L"\\\\.\\", 0) == 0)
        w.erase(0, 4);
    return w;
}

// The device namespace is the only way to reach ports above COM9.
std::wstring devicePath(const std::string &path) { return L"\\\\.\\" + dosName(path); }

// Windows' own list of serial ports, kept by the serial drivers (Wine fills
// it from its port map as well).
bool listedAsSerialPort(const std::wstring &name)
{
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DEVICEMAP\\SERIALCOMM", 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return false;
    bool found = false;
    for (DWORD i = 0; !found; ++i) {
        wchar_t value[256];
        DWORD valueLength = 256;
        wchar_t data[64] = {};
        DWORD dataBytes = sizeof data - sizeof(wchar_t); // room for a terminator
        DWORD type = 0;
        const LONG r = ::RegEnumValueW(key, i, value, &valueLength, nullptr, &type, reinterpret_cast<BYTE *>(data),
                                       &dataBytes);
        if (r == ERROR_MORE_DATA)
            continue; // not a port name of ours
        if (r != ERROR_SUCCESS)
            break;
        found = type == REG_SZ && ::_wcsicmp(data, name.c_str()) == 0;
    }
    ::RegCloseKey(key);
    return found;
}

// A DOS device of that name exists (a serial driver made the link
// \DosDevices\COMn -> \Device\...). Asking opens nothing.
bool dosDeviceExists(const std::wstring &name)
{
    std::vector<wchar_t> target(1024);
    if (::QueryDosDeviceW(name.c_str(), target.data(), static_cast<DWORD>(target.size())) != 0)
        return true;
    return ::GetLastError() == ERROR_INSUFFICIENT_BUFFER;
}

HANDLE livePort()
{
    const HANDLE h = portHandle.load();
    return h == INVALID_HANDLE_VALUE || portGone.load() ? INVALID_HANDLE_VALUE : h;
}

bool shortOfResources(DWORD e)
{
    return e == ERROR_NOT_ENOUGH_MEMORY || e == ERROR_OUTOFMEMORY || e == ERROR_NO_SYSTEM_RESOURCES ||
           e == ERROR_NOT_ENOUGH_QUOTA || e == ERROR_WORKING_SET_QUOTA;
}

// Characters waiting to be read; false when the port can no longer say. The
// status request is the one a driver answers as long as its device is there
// (OpenCOM made sure of that), so its failure is what decides "gone": a
// pulled USB adapter answers ERROR_DEVICE_REMOVED, ERROR_BAD_COMMAND,
// ERROR_ACCESS_DENIED or ERROR_GEN_FAILURE, depending on its driver. Only a
// shortage of memory or quota passes.
bool queued(HANDLE h, DWORD &waiting)
{
    DWORD errors = 0;
    COMSTAT st{};
    waiting = 0;
    if (::ClearCommError(h, &errors, &st)) {
        waiting = st.cbInQue;
        return true;
    }
    if (!shortOfResources(::GetLastError()))
        portGone.store(true);
    return false;
}

// After a failed or cut-short operation: is the device still there?
void checkGone(HANDLE h)
{
    DWORD ignored;
    queued(h, ignored);
}

enum class End { Done, Failed, Abandoned };

// Waits for the pending operation of the block in slot within the bound and
// cancels it past that. done is what it transferred, also when it completed
// as it was cancelled; Failed covers a cancelled operation too, which says
// nothing by itself about the device.
End settle(HANDLE h, std::unique_ptr<IoBlock> &slot, DWORD boundMs, DWORD &done)
{
    IoBlock &b = *slot;
    if (::WaitForSingleObject(b.event, boundMs) != WAIT_OBJECT_0) {
        ::CancelIoEx(h, &b.ov);
        if (::WaitForSingleObject(b.event, CancelBoundMs) != WAIT_OBJECT_0) {
            abandon(slot);
            done = 0;
            return End::Abandoned;
        }
    }
    return ::GetOverlappedResult(h, &b.ov, &done, FALSE) ? End::Done : End::Failed;
}

// Runs one overlapped operation on the block in slot to its end.
template <typename Start>
End runIo(HANDLE h, std::unique_ptr<IoBlock> &slot, DWORD &done, Start start)
{
    IoBlock &b = *slot;
    b.ov = OVERLAPPED{};
    b.ov.hEvent = b.event;
    ::ResetEvent(b.event);
    done = 0;
    if (start(b))
        return ::GetOverlappedResult(h, &b.ov, &done, FALSE) ? End::Done : End::Failed;
    if (::GetLastError() != ERROR_IO_PENDING)
        return End::Failed;
    return settle(h, slot, OperationBoundMs, done);
}

bool configure(HANDLE h, DWORD bitRate)
{
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    if (!::GetCommState(h, &dcb))
        return false;
    dcb.BaudRate = bitRate;
    dcb.ByteSize = 8;
    dcb.Parity = NOPARITY;
    dcb.StopBits = ONESTOPBIT;
    dcb.fBinary = TRUE;
    dcb.fParity = FALSE;
    dcb.fOutxCtsFlow = FALSE;
    dcb.fOutxDsrFlow = FALSE;
    // A passive adapter draws its supply from DTR and RTS: keep both up.
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    dcb.fRtsControl = RTS_CONTROL_ENABLE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    // SetCommState refuses a DCB whose Xon and Xoff characters are equal even
    // with flow control off, and some drivers report both as 0: give them
    // the usual DC1 and DC3.
    dcb.XonChar = 0x11;
    dcb.XoffChar = 0x13;
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    // A framing error on a reset echo must not stop the port until
    // ClearCommError; the echo byte itself is what the link reads.
    dcb.fAbortOnError = FALSE;
    return ::SetCommState(h, &dcb) != 0;
}

// Everything OpenCOM asks of a freshly opened port; false when the driver
// refuses any of it, as the port would then not work as the link needs.
bool setUp(HANDLE h)
{
    if (::GetFileType(h) != FILE_TYPE_CHAR || !configure(h, 9600))
        return false;
    // Reads return at once with what has arrived; writes never time out
    // (the overlapped bound ends them instead).
    COMMTIMEOUTS to{MAXDWORD, 0, 0, 0, 0};
    if (!::SetCommTimeouts(h, &to) || !::SetCommMask(h, EV_RXCHAR))
        return false;
    // The queue sizes are a request that a driver may keep to its own.
    ::SetupComm(h, 4096, 4096);
    // DCB already asks for both lines; some drivers only raise them on the
    // explicit call, and one without modem lines refuses it harmlessly.
    ::EscapeCommFunction(h, SETDTR);
    ::EscapeCommFunction(h, SETRTS);
    if (!::PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT))
        return false;
    // The status request decides later whether the device is gone: it must
    // work now.
    DWORD errors = 0;
    COMSTAT st{};
    return ::ClearCommError(h, &errors, &st) != 0;
}

} // namespace

const char *detail::defaultPortPath(int index)
{
    static const std::array<const char *, 4> paths{"COM1", "COM2", "COM3", "COM4"};
    return paths[static_cast<std::size_t>(index)];
}

bool AccessCOM(const std::string &name)
{
    const std::string path = portPath(name);
    if (path.empty())
        return false;
    // Asked of Windows, never by opening: an open raises DTR and RTS on
    // whatever is there, and a Bluetooth port would start a connection that
    // holds the window for seconds. A port another program has open is
    // present all the same.
    const std::wstring dos = dosName(path);
    return dosDeviceExists(dos) || listedAsSerialPort(dos);
}

bool OpenCOM(const std::string &name)
{
    CloseCOM();
    const std::string path = portPath(name);
    if (path.empty())
        return false;
    const HANDLE h = ::CreateFileW(devicePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_OVERLAPPED, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    if (!setUp(h)) {
        ::CloseHandle(h);
        return false;
    }
    portGone.store(false);
    portHandle.store(h);
    return true;
}

bool CloseCOM()
{
    const HANDLE h = portHandle.exchange(INVALID_HANDLE_VALUE);
    portGone.store(false);
    if (h != INVALID_HANDLE_VALUE)
        ::CloseHandle(h);
    return true;
}

bool SetCOMTo(int, int, int, int, int)
{
    // Reads never wait by construction (the time-outs set at open).
    return portHandle.load() != INVALID_HANDLE_VALUE;
}

bool SetModCOM(int bitRate, int dataBits, int, int, int, int)
{
    const HANDLE h = livePort();
    if (h == INVALID_HANDLE_VALUE || dataBits != 8 || bitRate <= 0)
        return false;
    if (!configure(h, static_cast<DWORD>(bitRate))) {
        checkGone(h);
        return false;
    }
    return true;
}

bool PurgeCOM()
{
    const HANDLE h = livePort();
    if (h == INVALID_HANDLE_VALUE)
        return false;
    if (!::PurgeComm(h, PURGE_RXCLEAR)) {
        checkGone(h);
        return false;
    }
    return true;
}

std::uint32_t TxDataCOM(const std::uint8_t *data, std::uint32_t count)
{
    const HANDLE h = livePort();
    if (h == INVALID_HANDLE_VALUE || !data || count == 0)
        return 0;
    IoBlock *b = block(writeBlock);
    if (!b)
        return 0;
    b->buffer.assign(data, data + count);
    DWORD sent = 0;
    // One WriteFile for the whole burst: a USB adapter then sends it in one
    // transfer and echoes it back together.
    const End end = runIo(h, writeBlock, sent, [h, count](IoBlock &io) {
        return ::WriteFile(h, io.buffer.data(), count, nullptr, &io.ov) != 0;
    });
    if (end == End::Failed)
        checkGone(h);
    return sent;
}

bool TxByteCOM(std::uint8_t b) { return TxDataCOM(&b, 1) == 1; }

bool RxDataCOM(std::uint8_t *buffer, std::uint32_t wanted, std::uint32_t *received)
{
    if (received)
        *received = 0;
    const HANDLE h = livePort();
    if (h == INVALID_HANDLE_VALUE || !buffer || wanted == 0)
        return false;
    IoBlock *b = block(readBlock);
    if (!b)
        return false;
    if (b->buffer.size() < wanted)
        b->buffer.resize(wanted);
    DWORD got = 0;
    const End end = runIo(h, readBlock, got, [h, wanted](IoBlock &io) {
        return ::ReadFile(h, io.buffer.data(), wanted, nullptr, &io.ov) != 0;
    });
    if (end == End::Abandoned)
        return false;
    // A read cut short by its cancel still hands over what it had.
    if (got > 0)
        std::memcpy(buffer, b->buffer.data(), got);
    if (received)
        *received = got;
    if (end == End::Failed) {
        checkGone(h);
        return got > 0;
    }
    return true;
}

bool WaitRxCOM(int timeoutMs)
{
    if (timeoutMs <= 0)
        return false;
    const HANDLE h = livePort();
    if (h == INVALID_HANDLE_VALUE) {
        theClock().sleep(static_cast<std::uint32_t>(timeoutMs));
        return false;
    }
    return theClock().waitInput(
        [h](int ms) {
            const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(ms);
            auto left = [deadline] {
                const ULONGLONG now = ::GetTickCount64();
                return now >= deadline ? DWORD{0} : static_cast<DWORD>(deadline - now);
            };
            // Never return at once into a caller's deadline loop.
            auto sleepOut = [&left] {
                ::Sleep(left());
                return false;
            };
            bool atOnce = false;
            for (;;) {
                DWORD waiting = 0;
                if (!queued(h, waiting))
                    return sleepOut();
                // An event can be left over from characters read earlier:
                // only characters waiting now count.
                if (waiting > 0)
                    return true;
                if (left() == 0)
                    return false;
                IoBlock *b = block(waitBlock);
                if (!b)
                    return sleepOut();
                b->ov = OVERLAPPED{};
                b->ov.hEvent = b->event;
                ::ResetEvent(b->event);
                if (::WaitCommEvent(h, &b->mask, &b->ov)) {
                    // A driver that keeps reporting events with nothing
                    // queued must not make this loop spin a core.
                    if (atOnce)
                        ::Sleep(1);
                    atOnce = true;
                    continue;
                }
                atOnce = false;
                if (::GetLastError() != ERROR_IO_PENDING) {
                    checkGone(h);
                    return sleepOut();
                }
                if (::WaitForSingleObject(b->event, left()) == WAIT_OBJECT_0) {
                    DWORD ignored = 0;
                    ::GetOverlappedResult(h, &b->ov, &ignored, FALSE);
                    continue;
                }
                // Setting the mask again ends the pending wait; a driver that
                // ignores that gets the cancel.
                ::SetCommMask(h, EV_RXCHAR);
                DWORD ignored = 0;
                if (settle(h, waitBlock, OperationBoundMs, ignored) == End::Abandoned)
                    return false;
                return queued(h, waiting) && waiting > 0;
            }
        },
        timeoutMs);
}

bool PortAlive() { return portHandle.load() != INVALID_HANDLE_VALUE && !portGone.load(); }

} // namespace kp33
