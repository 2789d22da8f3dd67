target_sources(kolporta_compose PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/GMimeSupport.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GMimeSupport.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Charsets.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Charsets.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Konvert.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Konvert.h
)
target_sources(kolporta_compose PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/MessageAssembly.cpp ${CMAKE_CURRENT_SOURCE_DIR}/MessageAssembly.h
  ${CMAKE_CURRENT_SOURCE_DIR}/MimeMessage.cpp ${CMAKE_CURRENT_SOURCE_DIR}/MimeMessage.h
)
