target_sources(kolporta_project PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/Project.h
  ${CMAKE_CURRENT_SOURCE_DIR}/ProjectFile.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ProjectFile.h
  ${CMAKE_CURRENT_SOURCE_DIR}/WindowTexts.cpp ${CMAKE_CURRENT_SOURCE_DIR}/WindowTexts.h
  ${CMAKE_CURRENT_SOURCE_DIR}/DocumentPrompts.h
  ${CMAKE_CURRENT_SOURCE_DIR}/AddressTools.cpp ${CMAKE_CURRENT_SOURCE_DIR}/AddressTools.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Document.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Document.h
)
target_sources(kolporta_project PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/Trim.h)
