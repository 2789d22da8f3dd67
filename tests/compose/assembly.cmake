kolporta_test(tst_Konvert ${CMAKE_CURRENT_SOURCE_DIR}/tst_Konvert.cpp LIBS kolporta_compose)
kolporta_test(tst_MessageAssembly ${CMAKE_CURRENT_SOURCE_DIR}/tst_MessageAssembly.cpp
  LIBS kolporta_compose)
kolporta_test(tst_MimeMessage ${CMAKE_CURRENT_SOURCE_DIR}/tst_MimeMessage.cpp
  LIBS kolporta_compose PkgConfig::GMIME)
