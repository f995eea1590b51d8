# The sensor parameters and colours dialog and its colour-dialog seam.
target_sources(dialogs PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/params.cpp ${CMAKE_CURRENT_SOURCE_DIR}/params.h
    ${CMAKE_CURRENT_SOURCE_DIR}/colordialogseam.cpp ${CMAKE_CURRENT_SOURCE_DIR}/colordialogseam.h)
