target_sources(kolporta_compose PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/GMimeSupport.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GMimeSupport.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Charsets.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Charsets.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Konvert.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Konvert.h
)
