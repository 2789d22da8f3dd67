kolporta_test(tst_MailObject
  ${CMAKE_CURRENT_SOURCE_DIR}/tst_MailObject.cpp
  ${CMAKE_SOURCE_DIR}/tests/compose/MailStructure.cpp
  LIBS kolporta_delivery)
kolporta_test(tst_MailPrograms ${CMAKE_CURRENT_SOURCE_DIR}/tst_MailPrograms.cpp LIBS kolporta_delivery)
kolporta_test(tst_MailProgramMsmtp
  ${CMAKE_CURRENT_SOURCE_DIR}/tst_MailProgramMsmtp.cpp
  ${CMAKE_SOURCE_DIR}/tests/compose/MailStructure.cpp
  LIBS kolporta_delivery)
