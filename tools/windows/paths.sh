# The host programs the Windows build and its tests use (sourced), found here
# only: Wine, and the host Qt whose moc, rcc and uic build for the target.
: "${WINE:=/usr/lib/wine/wine64}"
: "${WINESERVER:=/usr/lib/wine/wineserver}"
KP33_HOST_QT=/usr
KP33_HOST_QT_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake
