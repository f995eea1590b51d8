# The about box, the help viewer and the version items the about box reads,
# compiled in from the values the top-level CMakeLists.txt sets.
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/versiondata.h.in ${CMAKE_CURRENT_BINARY_DIR}/versiondata.h @ONLY)

target_sources(dialogs PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/about.cpp ${CMAKE_CURRENT_SOURCE_DIR}/about.h
    ${CMAKE_CURRENT_SOURCE_DIR}/helpviewer.cpp ${CMAKE_CURRENT_SOURCE_DIR}/helpviewer.h
    ${CMAKE_CURRENT_SOURCE_DIR}/versioninfo.cpp ${CMAKE_CURRENT_SOURCE_DIR}/versioninfo.h
    ${CMAKE_CURRENT_SOURCE_DIR}/versioninfo_${KP33_PLATFORM}.cpp
    ${CMAKE_CURRENT_SOURCE_DIR}/versiondata.h.in)
target_include_directories(dialogs PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
if(WIN32)
    # GetFileVersionInfoW and VerQueryValueW
    target_link_libraries(dialogs PUBLIC version)
endif()
