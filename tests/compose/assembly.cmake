kolporta_test(test_konvert ${CMAKE_CURRENT_SOURCE_DIR}/tst_Konvert.cpp LIBS kolporta_compose)
kolporta_test(test_messageassembly ${CMAKE_CURRENT_SOURCE_DIR}/tst_MessageAssembly.cpp
  LIBS kolporta_compose)
kolporta_test(test_mimemessage ${CMAKE_CURRENT_SOURCE_DIR}/tst_MimeMessage.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/MailStructure.cpp ${CMAKE_CURRENT_SOURCE_DIR}/MailStructure.h
  LIBS kolporta_compose PkgConfig::GMIME)
