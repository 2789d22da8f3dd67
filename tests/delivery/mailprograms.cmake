kolporta_test(test_mailobject
  ${CMAKE_CURRENT_SOURCE_DIR}/tst_MailObject.cpp
  ${CMAKE_SOURCE_DIR}/tests/compose/MailStructure.cpp
  LIBS kolporta_delivery)
kolporta_test(test_mailprograms ${CMAKE_CURRENT_SOURCE_DIR}/tst_MailPrograms.cpp LIBS kolporta_delivery)
kolporta_test(test_mailprogram_msmtp
  ${CMAKE_CURRENT_SOURCE_DIR}/tst_MailProgramMsmtp.cpp
  ${CMAKE_SOURCE_DIR}/tests/compose/MailStructure.cpp
  LIBS kolporta_delivery)
