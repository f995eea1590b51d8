# The about box, the help viewer and the version items the about box reads.
# The items are compiled in from the project's version and the values below.
set(KP33_FILE_VERSION "${PROJECT_VERSION}")
set(KP33_PRODUCT_VERSION "1.0.0.0")
set(KP33_FILE_DESCRIPTION "Виртуальный термометр KP33")
# Russian, code page 1251: the string block is "041904E3".
set(KP33_VERSION_LANGUAGE 0419)
set(KP33_VERSION_CODEPAGE 04E3)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/versiondata.h.in ${CMAKE_CURRENT_BINARY_DIR}/versiondata.h @ONLY)

target_sources(dialogs PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/about.cpp ${CMAKE_CURRENT_SOURCE_DIR}/about.h
    ${CMAKE_CURRENT_SOURCE_DIR}/helpviewer.cpp ${CMAKE_CURRENT_SOURCE_DIR}/helpviewer.h
    ${CMAKE_CURRENT_SOURCE_DIR}/versioninfo.cpp ${CMAKE_CURRENT_SOURCE_DIR}/versioninfo.h
    ${CMAKE_CURRENT_SOURCE_DIR}/versiondata.h.in)
target_include_directories(dialogs PRIVATE ${CMAKE_CURRENT_BINARY_DIR})
