kolporta_test(test_smtpclient ${CMAKE_CURRENT_SOURCE_DIR}/tst_SmtpClient.cpp
              LIBS kolporta_delivery)
kolporta_test(test_smtptls ${CMAKE_CURRENT_SOURCE_DIR}/tst_SmtpTls.cpp LIBS kolporta_delivery)
