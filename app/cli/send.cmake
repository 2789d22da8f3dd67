target_sources(kolporta-cli PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/SendCommand.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/CliSendHost.cpp ${CMAKE_CURRENT_SOURCE_DIR}/CliSendHost.h
  ${CMAKE_CURRENT_SOURCE_DIR}/ExportSession.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ExportSession.h
  ${CMAKE_CURRENT_SOURCE_DIR}/RunReport.cpp ${CMAKE_CURRENT_SOURCE_DIR}/RunReport.h)
