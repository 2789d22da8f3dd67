kolporta_test(test_mailprogrammessage
  ${CMAKE_CURRENT_SOURCE_DIR}/tst_MailProgramMessage.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/MailStructure.cpp ${CMAKE_CURRENT_SOURCE_DIR}/MailStructure.h
  LIBS kolporta_compose)
