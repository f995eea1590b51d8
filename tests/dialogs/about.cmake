# The about box, the version items and the help viewer. The pictures travel
# inside the program through the main window's library; the test carries its
# own copy under the same names. The help is read as the build makes it: this
# platform's page beside the program, and both platforms' pages, so each is
# checked wherever the tests run.
kp33_test(tst_about ${CMAKE_CURRENT_SOURCE_DIR}/tst_about.cpp LIBS dialogs)
qt_add_resources(tst_about aboutpictures
    PREFIX /
    BASE ${PROJECT_SOURCE_DIR}/resources
    FILES ${PROJECT_SOURCE_DIR}/resources/chip.png ${PROJECT_SOURCE_DIR}/resources/flag.png
          ${PROJECT_SOURCE_DIR}/resources/chip@2x.png ${PROJECT_SOURCE_DIR}/resources/chip@3x.png
          ${PROJECT_SOURCE_DIR}/resources/flag@2x.png ${PROJECT_SOURCE_DIR}/resources/flag@3x.png
)
set(pages)
foreach(platform posix win)
    set(page ${CMAKE_CURRENT_BINARY_DIR}/help-${platform}.html)
    add_custom_command(OUTPUT ${page}
        COMMAND ${CMAKE_COMMAND} -DSOURCE=${PROJECT_SOURCE_DIR}/HELP/help.html.in -DPAGE=${page}
            -DPLATFORM=${platform} -P ${PROJECT_SOURCE_DIR}/tools/helppage.cmake
        DEPENDS ${PROJECT_SOURCE_DIR}/HELP/help.html.in ${PROJECT_SOURCE_DIR}/tools/helppage.cmake
        COMMENT "Making the ${platform} help page for tst_about")
    list(APPEND pages ${page})
endforeach()
add_custom_target(tst_about_pages DEPENDS ${pages})
add_dependencies(tst_about tst_about_pages kp33-help)
target_compile_definitions(tst_about PRIVATE
    KP33_HELP_FILE="${CMAKE_BINARY_DIR}/bin/HELP/help.html"
    KP33_HELP_POSIX="${CMAKE_CURRENT_BINARY_DIR}/help-posix.html"
    KP33_HELP_WIN="${CMAKE_CURRENT_BINARY_DIR}/help-win.html")
