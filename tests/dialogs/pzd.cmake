if(NOT WIN32) # it talks to the simulator on a pseudo-terminal
    kp33_test(tst_pzd ${CMAKE_CURRENT_SOURCE_DIR}/tst_pzd.cpp LIBS dialogs)
endif()
