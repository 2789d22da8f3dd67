kolporta_test(tst_Konvert ${CMAKE_CURRENT_SOURCE_DIR}/tst_Konvert.cpp LIBS kolporta_compose)
