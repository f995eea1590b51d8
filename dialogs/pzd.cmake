# The recording parameters dialog and the save-file dialog seam it uses.
target_sources(dialogs PRIVATE
    ${CMAKE_CURRENT_SOURCE_DIR}/pzd.cpp ${CMAKE_CURRENT_SOURCE_DIR}/pzd.h
    ${CMAKE_CURRENT_SOURCE_DIR}/filedialogseam.cpp ${CMAKE_CURRENT_SOURCE_DIR}/filedialogseam.h)
