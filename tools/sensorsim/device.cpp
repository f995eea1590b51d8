#include "device.h"

#include "sensorbus/crc8.h"

#include <algorithm>
#include <cmath>
#include <cstdarg>
#include <cstdio>
#include <utility>

namespace sensorsim {

std::uint8_t crc8(const std::uint8_t* data, std::size_t n) noexcept
{
    std::uint8_t crc = 0;
    for (std::size_t i = 0; i < n; ++i)
        crc = kp33::crc8Update(crc, data[i]);
    return crc;
}

namespace {

constexpr std::uint8_t kReadRom = 0x33, kSkipRom = 0xCC, kMatchRom = 0x55, kSearchRom = 0xF0,
                       kAlarmSearch = 0xEC;
constexpr std::uint8_t kConvert = 0x44, kReadScratchpad = 0xBE, kWriteScratchpad = 0x4E,
                       kCopyScratchpad = 0x48, kRecall = 0xB8, kReadPower = 0xB4;

// EEPROM write time from the datasheets; Copy Scratchpad reports busy for this long.
constexpr auto kEepromWrite = std::chrono::milliseconds(10);

long floorDiv(long a, long b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }

}  // namespace

Device::Device(const DeviceConfig& cfg, DeviceHooks hooks) : cfg_(cfg), hooks_(std::move(hooks))
{
    eeTh_ = cfg.th;
    eeTl_ = cfg.tl;
    // Only bits 5-6 of the configuration register are writable; the rest read back as 1.
    eeConfig_ = b20Layout() ? static_cast<std::uint8_t>(0x1F | ((cfg.resolution - 9) << 5)) : 0xFF;
    powerOn();
}

void Device::trace(const char* fmt, ...)
{
    char line[128];
    va_list ap;
    va_start(ap, fmt);
    std::vsnprintf(line, sizeof line, fmt, ap);
    va_end(ap);
    hooks_.trace(line);
}

void Device::powerOn()
{
    phase_ = Phase::Idle;
    converting_ = false;
    alarm_ = false;
    th_ = eeTh_;
    tl_ = eeTl_;
    config_ = eeConfig_;
    encode(cfg_.powerOn85 ? 85.0 : hooks_.temperature(false), raw_, countRemain_);
}

void Device::reset()
{
    update(Clock::now());
    phase_ = Phase::RomCmd;
    shift_ = 0;
    shiftBits_ = 0;
}

void Device::update(Clock::time_point now)
{
    if (converting_ && now >= convDone_) {
        converting_ = false;
        raw_ = convRaw_;
        countRemain_ = convCountRemain_;
        // TH/TL hold whole degrees, so only the integer part of the reading is compared.
        const int whole = b20Layout() ? raw_ >> 4 : raw_ >> 1;
        const int th = static_cast<std::int8_t>(th_), tl = static_cast<std::int8_t>(tl_);
        alarm_ = whole <= tl || (b20Layout() ? whole >= th : whole > th);
    }
}

bool Device::slot(bool masterBit)
{
    const auto now = Clock::now();
    update(now);
    switch (phase_) {
    case Phase::RomCmd:
    case Phase::FuncCmd:
    case Phase::Receive: {
        shift_ = static_cast<std::uint8_t>(shift_ | (masterBit ? 1u << shiftBits_ : 0u));
        if (++shiftBits_ < 8)
            return true;
        const std::uint8_t b = shift_;
        shift_ = 0;
        shiftBits_ = 0;
        if (phase_ == Phase::RomCmd)
            onRomCommand(b);
        else if (phase_ == Phase::FuncCmd)
            onFunctionCommand(b);
        else
            onReceived(b);
        return true;
    }
    case Phase::Send: {
        const bool bit = (tx_[txBit_ / 8] >> (txBit_ % 8)) & 1;
        ++txBit_;
        if (txBit_ % 8 == 0)
            trace("OUT 0x%02X", tx_[txBit_ / 8 - 1]);
        if (txBit_ == tx_.size() * 8)
            phase_ = afterTx_;
        return bit;
    }
    case Phase::Search: {
        const bool bit = (cfg_.rom[searchBit_ / 8] >> (searchBit_ % 8)) & 1;
        const int step = searchStep_;
        searchStep_ = (searchStep_ + 1) % 3;
        if (step == 0)
            return bit;
        if (step == 1)
            return !bit;
        if (masterBit != bit)
            phase_ = Phase::Idle;
        else if (++searchBit_ == 64)
            phase_ = Phase::FuncCmd;
        return true;
    }
    case Phase::Busy:
        return now >= busyUntil_;
    case Phase::Idle:
    case Phase::Released:
        break;
    }
    return true;
}

void Device::send(Bytes data, Phase after)
{
    tx_ = std::move(data);
    txBit_ = 0;
    afterTx_ = after;
    phase_ = Phase::Send;
}

void Device::onRomCommand(std::uint8_t cmd)
{
    trace("ROM 0x%02X", cmd);
    switch (cmd) {
    case kReadRom: {
        Bytes rom(cfg_.rom.begin(), cfg_.rom.end());
        hooks_.corrupt(rom);
        send(std::move(rom), Phase::FuncCmd);
        break;
    }
    case kSkipRom:
        phase_ = Phase::FuncCmd;
        break;
    case kMatchRom:
        phase_ = Phase::Receive;
        rxFor_ = Rx::MatchRom;
        rx_.clear();
        rxWant_ = 8;
        break;
    case kAlarmSearch:
    case kSearchRom:
        phase_ = (cmd == kSearchRom || alarm_) ? Phase::Search : Phase::Idle;
        searchBit_ = 0;
        searchStep_ = 0;
        break;
    default:
        trace("ERROR unknown ROM command 0x%02X", cmd);
        phase_ = Phase::Idle;
    }
}

void Device::onFunctionCommand(std::uint8_t cmd)
{
    trace("CMD 0x%02X", cmd);
    const auto now = Clock::now();
    switch (cmd) {
    case kConvert: {
        encode(hooks_.temperature(true), convRaw_, convCountRemain_);
        char t[32];
        std::snprintf(t, sizeof t, "%.4f", decode(convRaw_, convCountRemain_));
        std::string s = t;
        s.erase(s.find_last_not_of('0') + 1);
        if (s.back() == '.')
            s += '0';
        trace("CONVERT t=%s", s.c_str());
        converting_ = true;
        convDone_ = cfg_.instant ? now : now + conversionTime();
        update(now);
        busyUntil_ = convDone_;
        phase_ = Phase::Busy;
        break;
    }
    case kReadScratchpad: {
        hooks_.scratchpadRead();
        const auto sp = scratchpad();
        Bytes data(sp.begin(), sp.end());
        hooks_.corrupt(data);
        send(std::move(data), Phase::Released);
        break;
    }
    case kWriteScratchpad:
        phase_ = Phase::Receive;
        rxFor_ = Rx::WriteScratchpad;
        rx_.clear();
        rxWant_ = b20Layout() ? 3 : 2;
        break;
    case kCopyScratchpad:
        eeTh_ = th_;
        eeTl_ = tl_;
        if (b20Layout())
            eeConfig_ = config_;
        trace("COPY th=0x%02X tl=0x%02X config=0x%02X", eeTh_, eeTl_, b20Layout() ? eeConfig_ : 0xFF);
        busyUntil_ = cfg_.instant ? now : now + kEepromWrite;
        phase_ = Phase::Busy;
        break;
    case kRecall:
        th_ = eeTh_;
        tl_ = eeTl_;
        config_ = eeConfig_;
        busyUntil_ = now;
        phase_ = Phase::Busy;
        break;
    case kReadPower:
        // Externally powered: the device leaves the line high in the read slot.
        phase_ = Phase::Released;
        break;
    default:
        trace("ERROR unknown function command 0x%02X", cmd);
        phase_ = Phase::Idle;
    }
}

void Device::onReceived(std::uint8_t b)
{
    trace("IN 0x%02X", b);
    rx_.push_back(b);
    if (rxFor_ == Rx::WriteScratchpad) {
        // Each byte lands as it arrives, so a reset after TH alone still changes TH.
        if (rx_.size() == 1)
            th_ = b;
        else if (rx_.size() == 2)
            tl_ = b;
        else
            config_ = static_cast<std::uint8_t>(0x1F | (b & 0x60));
        if (rx_.size() == rxWant_)
            phase_ = Phase::Released;
        return;
    }
    if (rx_.size() == rxWant_)
        phase_ = std::equal(rx_.begin(), rx_.end(), cfg_.rom.begin()) ? Phase::FuncCmd : Phase::Idle;
}

std::array<std::uint8_t, 9> Device::scratchpad() const
{
    const auto u = static_cast<std::uint16_t>(raw_);
    const auto lo = static_cast<std::uint8_t>(u & 0xFF), hi = static_cast<std::uint8_t>(u >> 8);
    std::array<std::uint8_t, 9> sp = b20Layout()
        ? std::array<std::uint8_t, 9>{lo, hi, th_, tl_, config_, 0xFF, 0x0C, 0x10, 0}
        : std::array<std::uint8_t, 9>{lo, hi, th_, tl_, 0xFF, 0xFF, countRemain_, 0x10, 0};
    sp[8] = crc8(sp.data(), 8);
    return sp;
}

Clock::duration Device::conversionTime() const
{
    using std::chrono::microseconds;
    switch (cfg_.family) {
    case Family::DS1820:
        return std::chrono::milliseconds(500);
    case Family::DS18S20:
        return std::chrono::milliseconds(750);
    case Family::DS18B20:
    case Family::Other:
        break;
    }
    const int res = 9 + ((config_ >> 5) & 3);
    return microseconds(93750L << (res - 9));
}

void Device::encode(double celsius, std::int16_t& raw, std::uint8_t& countRemain) const
{
    const double c = std::clamp(celsius, -55.0, 125.0);
    if (b20Layout()) {
        // Round once, straight to the resolution's step (rounding to 1/16 first would round
        // twice); the undefined low bits stay 0.
        const int step = 1 << (3 - ((config_ >> 5) & 3));
        raw = static_cast<std::int16_t>(std::floor(c * 16 / step + 0.5) * step);
        countRemain = 0x0C;
        return;
    }
    const long t16 = std::lround(std::floor(c * 16 + 0.5));
    // 0x10 family: pick TEMP_READ and COUNT_REMAIN (0..15 of COUNT_PER_C = 16) so that
    // TEMP_READ - 0.25 + (16 - COUNT_REMAIN) / 16 gives back t16 exactly. The half-degree
    // bit is set when t is nearer TEMP_READ + 0.5 so the plain 9-bit reading stays sensible.
    const long whole = floorDiv(t16 + 3, 16);
    countRemain = static_cast<std::uint8_t>(16 * whole + 12 - t16);
    raw = static_cast<std::int16_t>(2 * whole + (t16 - 16 * whole >= 4 ? 1 : 0));
}

double Device::decode(std::int16_t raw, std::uint8_t countRemain) const
{
    if (b20Layout())
        return raw / 16.0;
    return (raw >> 1) - 0.25 + (16 - countRemain) / 16.0;
}

}  // namespace sensorsim
