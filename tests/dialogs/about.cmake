# The about box, the version items and the help viewer. The pictures travel
# inside the program through the main window's library; the test carries its
# own copy under the same names. The shipped help file is read from the source.
kp33_test(tst_about ${CMAKE_CURRENT_SOURCE_DIR}/tst_about.cpp LIBS dialogs)
qt_add_resources(tst_about aboutpictures
    PREFIX /
    BASE ${PROJECT_SOURCE_DIR}/resources
    FILES ${PROJECT_SOURCE_DIR}/resources/chip.png ${PROJECT_SOURCE_DIR}/resources/flag.png
          ${PROJECT_SOURCE_DIR}/resources/chip@2x.png ${PROJECT_SOURCE_DIR}/resources/chip@3x.png
          ${PROJECT_SOURCE_DIR}/resources/flag@2x.png ${PROJECT_SOURCE_DIR}/resources/flag@3x.png
)
target_compile_definitions(tst_about PRIVATE KP33_HELP_FILE="${PROJECT_SOURCE_DIR}/HELP/help.html")
