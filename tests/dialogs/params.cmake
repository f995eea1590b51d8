kp33_test(tst_params ${CMAKE_CURRENT_SOURCE_DIR}/tst_params.cpp LIBS dialogs)
