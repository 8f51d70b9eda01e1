# Firmware Control Window tests (included from this folder's CMakeLists.txt).
if(TARGET vt_control AND TARGET vt_link)
  vt_add_test(control_send_dialog_test SOURCES SendDialogTest.cpp LIBS vt_control QT
    LABELS threaded)
endif()
