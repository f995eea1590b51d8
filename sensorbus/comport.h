#pragma once
// The serial-port layer: one open port at a time, eight operations with the
// arguments the 1-Wire link and the session pass, plus a wait for input so
// the echo loops never spin a core. Nothing here throws, and a device that
// vanishes simply stops echoing. On Linux no call blocks; on Windows reads,
// writes and the wait for input are bounded, while the open and the setup
// and status requests wait on the driver (comport_win.cpp says which).

#include <cstdint>
#include <string>

namespace kp33 {

// "COM1" ... "COM4" -> device path. Defaults on Linux: /dev/ttyS0,
// /dev/ttyS1, /dev/ttyUSB0, /dev/ttyUSB1; on Windows the ports of the same
// names. The settings' [PORTS] section overrides them (COM3=COM7).
std::string portPath(const std::string &name);
void setPortPath(int number, const std::string &path); // number 1..4
void resetPortPaths();

// Non-zero when the named port exists and is a terminal really fitted; the
// port is not left open. Windows is asked whether the device exists, and the
// port is not opened at all; Linux opens it for a moment to ask the UART.
bool AccessCOM(const std::string &name);
bool OpenCOM(const std::string &name);
bool CloseCOM();
// -1, 0, 0, 0, 0: reads never wait (they always return at once here).
bool SetCOMTo(int readInterval, int readMultiplier, int readConstant, int writeMultiplier,
              int writeConstant);
// Bit rate (9600 or 115200), data bits (8); the other values mean nothing here.
bool SetModCOM(int bitRate, int dataBits, int parity, int s, int d, int x);
bool PurgeCOM();
bool TxByteCOM(std::uint8_t b);
// Writes up to count characters in one go (a burst of bit slots); returns how
// many were taken. Characters not taken are never echoed, so the caller's
// echo deadline catches them.
std::uint32_t TxDataCOM(const std::uint8_t *data, std::uint32_t count);
// Reads what has arrived, at most `wanted` bytes; *received is how many were
// stored (0 when nothing was there).
bool RxDataCOM(std::uint8_t *buffer, std::uint32_t wanted, std::uint32_t *received);

// Waits on the clock seam until input is there or timeoutMs has passed. With
// no port, or a port whose device has gone, it sleeps the time out instead of
// returning at once, so a caller's deadline loop cannot spin.
bool WaitRxCOM(int timeoutMs);

// True while a port is open and its device has not gone away.
bool PortAlive();

} // namespace kp33
