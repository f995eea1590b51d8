// The part of the serial layer both platforms share: which device each of
// the four port names stands for.

#include "sensorbus/comport.h"
#include "sensorbus/comport_p.h"

#include <array>
#include <mutex>

namespace kp33 {

namespace {

std::mutex pathsMutex; // protects the array pathTable() returns

std::array<std::string, 4> &pathTable()
{
    static std::array<std::string, 4> paths{detail::defaultPortPath(0), detail::defaultPortPath(1),
                                            detail::defaultPortPath(2), detail::defaultPortPath(3)};
    return paths;
}

int portIndex(const std::string &name)
{
    if (name.size() == 4 && name.compare(0, 3, "COM") == 0 && name[3] >= '1' && name[3] <= '4')
        return name[3] - '1';
    return -1;
}

} // namespace

std::string portPath(const std::string &name)
{
    const int i = portIndex(name);
    if (i < 0)
        return {};
    std::lock_guard lock(pathsMutex);
    return pathTable()[i];
}

void setPortPath(int number, const std::string &path)
{
    // A NUL would cut the path short where it reaches the system.
    if (number < 1 || number > 4 || path.empty() || path.find('\0') != std::string::npos)
        return;
    std::lock_guard lock(pathsMutex);
    pathTable()[number - 1] = path;
}

void resetPortPaths()
{
    std::lock_guard lock(pathsMutex);
    for (int i = 0; i < 4; ++i)
        pathTable()[i] = detail::defaultPortPath(i);
}

} // namespace kp33
