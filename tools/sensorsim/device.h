// One DS18x20 on a 1-Wire bus, driven slot by slot by the simulator's UART layer.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sensorsim {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<std::uint8_t>;
using Rom = std::array<std::uint8_t, 8>;

enum class Family { DS18B20, DS18S20, DS1820, Other };

std::uint8_t crc8(const std::uint8_t* data, std::size_t n) noexcept;

struct DeviceConfig {
    Family family = Family::DS18B20;
    Rom rom{};
    int resolution = 12;
    std::uint8_t th = 0x4B;
    std::uint8_t tl = 0x46;
    bool instant = false;     // conversions and EEPROM writes finish at once
    bool powerOn85 = false;
};

struct DeviceHooks {
    std::function<void(const std::string&)> trace;
    std::function<double(bool consume)> temperature;  // consume: a conversion takes this value
    std::function<void(Bytes&)> corrupt;              // may flip a bit of an outgoing block
    std::function<void()> scratchpadRead;             // counts Read Scratchpad commands
};

class Device {
public:
    Device(const DeviceConfig& cfg, DeviceHooks hooks);

    void powerOn();
    void reset();                  // reset pulse seen; the device answers with presence
    bool slot(bool masterBit);     // one time slot; returns false if the device pulls the line low
    void hold() { phase_ = Phase::Idle; }   // line stuck low: nothing gets through

    std::array<std::uint8_t, 9> scratchpad() const;

private:
    enum class Phase { Idle, RomCmd, FuncCmd, Receive, Send, Search, Busy, Released };
    enum class Rx { MatchRom, WriteScratchpad };

    bool b20Layout() const { return cfg_.family == Family::DS18B20 || cfg_.family == Family::Other; }
    void onRomCommand(std::uint8_t cmd);
    void onFunctionCommand(std::uint8_t cmd);
    void onReceived(std::uint8_t b);
    void send(Bytes data, Phase after);
    void update(Clock::time_point now);
    void encode(double celsius, std::int16_t& raw, std::uint8_t& countRemain) const;
    double decode(std::int16_t raw, std::uint8_t countRemain) const;
    Clock::duration conversionTime() const;
    void trace(const char* fmt, ...) __attribute__((format(printf, 2, 3)));

    DeviceConfig cfg_;
    DeviceHooks hooks_;

    Phase phase_ = Phase::Idle;
    std::uint8_t shift_ = 0;
    int shiftBits_ = 0;
    Rx rxFor_ = Rx::MatchRom;
    Bytes rx_;
    std::size_t rxWant_ = 0;
    Bytes tx_;
    std::size_t txBit_ = 0;
    Phase afterTx_ = Phase::Idle;
    int searchBit_ = 0;
    int searchStep_ = 0;
    Clock::time_point busyUntil_{};

    // Registers. raw is 1/16 degC on the B20 layout, 1/2 degC on the 0x10 family.
    std::int16_t raw_ = 0;
    std::uint8_t countRemain_ = 0x0C;
    std::uint8_t th_ = 0, tl_ = 0, config_ = 0x7F;
    std::uint8_t eeTh_ = 0, eeTl_ = 0, eeConfig_ = 0x7F;
    bool alarm_ = false;

    bool converting_ = false;
    Clock::time_point convDone_{};
    std::int16_t convRaw_ = 0;
    std::uint8_t convCountRemain_ = 0;
};

}  // namespace sensorsim
