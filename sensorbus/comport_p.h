#pragma once
// What each platform's serial file gives the shared part (comport.cpp).

namespace kp33::detail {

// The device "COMn" names until the settings map it elsewhere; index 0..3.
const char *defaultPortPath(int index);

} // namespace kp33::detail
