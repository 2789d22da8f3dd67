kolporta_test(test_sendlog ${CMAKE_CURRENT_SOURCE_DIR}/tst_SendLog.cpp LIBS kolporta_delivery)
