// Serial port on the Win32 communications API.

#include "sensorbus/comport.h"

#include "sensorbus/clock.h"

#include <windows.h>

#include <array>
#include <atomic>
#include <mutex>

namespace kp33 {

namespace {

std::mutex pathsMutex; // protects paths
std::array<std::string, 4> paths{"COM1", "COM2", "COM3", "COM4"};

// The open port. The session hands the bus from the main thread to the
// measurement thread and back, never using it from both at once; atomics keep
// the handover visible without a lock on every character. The handle is
// opened for overlapped I/O so that a wait for input can end at a deadline.
std::atomic<HANDLE> portHandle{INVALID_HANDLE_VALUE};
std::atomic<bool> portGone{false};
// One event and one OVERLAPPED per kind of operation; they outlive every
// port, so an operation a driver completes after we gave up on it writes
// into memory that is still ours.
HANDLE readEvent = nullptr;
HANDLE writeEvent = nullptr;
HANDLE commEvent = nullptr;
OVERLAPPED readOv{};
OVERLAPPED writeOv{};
OVERLAPPED commOv{};

// No serial call may hold the caller longer than this: a burst of slots
// takes about 10 ms on the wire, and a port that has not finished in half a
// second (a console UART that never drains, a driver that hangs) is treated
// as gone rather than freezing the window or the measurement thread.
constexpr DWORD OperationBoundMs = 500;

int portIndex(const std::string &name)
{
    if (name.size() == 4 && name.compare(0, 3, "COM") == 0 && name[3] >= '1' && name[3] <= '4')
        return name[3] - '1';
    return -1;
}

// "COM12" and "\\.\COM12" alike: the device namespace is the only way to
// reach ports above COM9.
std::wstring devicePath(const std::string &path)
{
    std::wstring w(path.begin(), path.end());
    if (w.rfind(L"\\\\.\\", 0) == 0)
        return w;
    return L"\\\\.\\" + w;
}

HANDLE openDevice(const std::string &path, DWORD flags)
{
    return ::CreateFileW(devicePath(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                         OPEN_EXISTING, flags, nullptr);
}

void ensureEvents()
{
    static std::once_flag once;
    std::call_once(once, [] {
        readEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        writeEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
        commEvent = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
    });
}

// Errors that mean the device is no longer there (a pulled USB adapter).
bool isGoneError(DWORD e)
{
    return e == ERROR_DEVICE_NOT_CONNECTED || e == ERROR_BAD_COMMAND || e == ERROR_GEN_FAILURE ||
           e == ERROR_ACCESS_DENIED || e == ERROR_INVALID_HANDLE || e == ERROR_OPERATION_ABORTED ||
           e == ERROR_FILE_NOT_FOUND;
}

void noteFailure()
{
    if (isGoneError(::GetLastError()))
        portGone.store(true);
}

HANDLE livePort()
{
    const HANDLE h = portHandle.load();
    return h == INVALID_HANDLE_VALUE || portGone.load() ? INVALID_HANDLE_VALUE : h;
}

// Waits for a pending operation within the bound; cancels it past that.
// False when it failed or had to be cancelled.
bool finish(HANDLE h, OVERLAPPED &ov, DWORD &done, DWORD boundMs)
{
    if (::WaitForSingleObject(ov.hEvent, boundMs) != WAIT_OBJECT_0) {
        ::CancelIoEx(h, &ov);
        if (::WaitForSingleObject(ov.hEvent, OperationBoundMs) != WAIT_OBJECT_0) {
            // The driver does not even cancel: take the port as gone.
            portGone.store(true);
            return false;
        }
        ::GetOverlappedResult(h, &ov, &done, FALSE);
        return false;
    }
    return ::GetOverlappedResult(h, &ov, &done, FALSE) != 0;
}

// Runs one overlapped operation to its end; false when it failed.
template <typename Start>
bool complete(HANDLE h, OVERLAPPED &ov, HANDLE event, DWORD &done, Start start)
{
    ov = OVERLAPPED{};
    ov.hEvent = event;
    ::ResetEvent(event);
    done = 0;
    if (start(&ov))
        return ::GetOverlappedResult(h, &ov, &done, FALSE) != 0;
    if (::GetLastError() != ERROR_IO_PENDING)
        return false;
    return finish(h, ov, done, OperationBoundMs);
}

DWORD bytesWaiting(HANDLE h)
{
    DWORD errors = 0;
    COMSTAT st{};
    if (!::ClearCommError(h, &errors, &st)) {
        noteFailure();
        return 0;
    }
    return st.cbInQue;
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
    dcb.fErrorChar = FALSE;
    dcb.fNull = FALSE;
    // A framing error on a reset echo must not stop the port until
    // ClearCommError; the echo byte itself is what the link reads.
    dcb.fAbortOnError = FALSE;
    return ::SetCommState(h, &dcb) != 0;
}

} // namespace

std::string portPath(const std::string &name)
{
    const int i = portIndex(name);
    if (i < 0)
        return {};
    std::lock_guard lock(pathsMutex);
    return paths[i];
}

void setPortPath(int number, const std::string &path)
{
    if (number < 1 || number > 4 || path.empty())
        return;
    std::lock_guard lock(pathsMutex);
    paths[number - 1] = path;
}

void resetPortPaths()
{
    std::lock_guard lock(pathsMutex);
    for (std::size_t i = 0; i < paths.size(); ++i)
        paths[i] = "COM" + std::to_string(i + 1);
}

bool AccessCOM(const std::string &name)
{
    const std::string path = portPath(name);
    if (path.empty())
        return false;
    const HANDLE h = openDevice(path, 0);
    if (h != INVALID_HANDLE_VALUE) {
        ::CloseHandle(h);
        return true;
    }
    // A port another program holds is there all the same: it refuses the
    // open, while a port that does not exist is not found.
    const DWORD e = ::GetLastError();
    return e == ERROR_ACCESS_DENIED || e == ERROR_SHARING_VIOLATION || e == ERROR_BUSY;
}

bool OpenCOM(const std::string &name)
{
    CloseCOM();
    const std::string path = portPath(name);
    if (path.empty())
        return false;
    ensureEvents();
    const HANDLE h = openDevice(path, FILE_FLAG_OVERLAPPED);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    if (::GetFileType(h) != FILE_TYPE_CHAR || !configure(h, 9600)) {
        ::CloseHandle(h);
        return false;
    }
    // Reads return at once with what has arrived; writes never time out.
    COMMTIMEOUTS to{MAXDWORD, 0, 0, 0, 0};
    ::SetCommTimeouts(h, &to);
    ::SetupComm(h, 4096, 4096);
    ::SetCommMask(h, EV_RXCHAR);
    // DCB already asks for both lines; some drivers only raise them on the
    // explicit call, and one without modem lines refuses it harmlessly.
    ::EscapeCommFunction(h, SETDTR);
    ::EscapeCommFunction(h, SETRTS);
    ::PurgeComm(h, PURGE_RXCLEAR | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_TXABORT);
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
        noteFailure();
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
        noteFailure();
        return false;
    }
    return true;
}

std::uint32_t TxDataCOM(const std::uint8_t *data, std::uint32_t count)
{
    const HANDLE h = livePort();
    if (h == INVALID_HANDLE_VALUE || !data || count == 0)
        return 0;
    DWORD sent = 0;
    // One WriteFile for the whole burst: a USB adapter then sends it in one
    // transfer and echoes it back together.
    if (!complete(h, writeOv, writeEvent, sent, [&](OVERLAPPED *ov) {
            return ::WriteFile(h, data, count, nullptr, ov) != 0;
        })) {
        noteFailure();
    }
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
    DWORD got = 0;
    if (!complete(h, readOv, readEvent, got, [&](OVERLAPPED *ov) {
            return ::ReadFile(h, buffer, wanted, nullptr, ov) != 0;
        })) {
        noteFailure();
        return false;
    }
    if (received)
        *received = got;
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
            if (bytesWaiting(h) > 0)
                return true;
            const ULONGLONG deadline = ::GetTickCount64() + static_cast<ULONGLONG>(ms);
            static DWORD mask = 0; // written when the wait completes
            for (;;) {
                OVERLAPPED &ov = commOv;
                ov = OVERLAPPED{};
                ov.hEvent = commEvent;
                ::ResetEvent(commEvent);
                if (!::WaitCommEvent(h, &mask, &ov)) {
                    if (::GetLastError() != ERROR_IO_PENDING) {
                        noteFailure();
                        // Never return at once into a caller's deadline loop.
                        ::Sleep(static_cast<DWORD>(ms));
                        return bytesWaiting(h) > 0;
                    }
                    const ULONGLONG now = ::GetTickCount64();
                    const DWORD left = now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
                    if (::WaitForSingleObject(commEvent, left) != WAIT_OBJECT_0) {
                        // Setting the mask again ends the pending wait.
                        ::SetCommMask(h, EV_RXCHAR);
                        DWORD ignored = 0;
                        finish(h, ov, ignored, OperationBoundMs);
                        return bytesWaiting(h) > 0;
                    }
                    DWORD ignored = 0;
                    ::GetOverlappedResult(h, &ov, &ignored, FALSE);
                }
                // An event can be left over from characters read earlier:
                // only characters waiting now count.
                if (bytesWaiting(h) > 0)
                    return true;
                if (portGone.load() || ::GetTickCount64() >= deadline)
                    return false;
            }
        },
        timeoutMs);
}

bool PortAlive() { return portHandle.load() != INVALID_HANDLE_VALUE && !portGone.load(); }

} // namespace kp33
