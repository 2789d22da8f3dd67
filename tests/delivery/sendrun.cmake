kolporta_test(test_sendlog ${CMAKE_CURRENT_SOURCE_DIR}/tst_SendLog.cpp LIBS kolporta_delivery)
kolporta_test(test_sendrun ${CMAKE_CURRENT_SOURCE_DIR}/tst_SendRun.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SendRunFixtures.h LIBS kolporta_delivery)
kolporta_test(test_sendrun_routes ${CMAKE_CURRENT_SOURCE_DIR}/tst_SendRunRoutes.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SendRunFixtures.h ${CMAKE_SOURCE_DIR}/tests/compose/MailStructure.cpp
  LIBS kolporta_delivery)
