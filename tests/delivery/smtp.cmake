kolporta_test(test_smtpclient ${CMAKE_CURRENT_SOURCE_DIR}/tst_SmtpClient.cpp
              LIBS kolporta_delivery)
