target_sources(kolporta_delivery PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/SendRunHost.h
  ${CMAKE_CURRENT_SOURCE_DIR}/SendLog.h ${CMAKE_CURRENT_SOURCE_DIR}/SendLog.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/SendRun.h ${CMAKE_CURRENT_SOURCE_DIR}/SendRun.cpp)
