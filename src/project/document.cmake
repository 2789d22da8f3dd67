target_sources(kolporta_project PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/Project.h
  ${CMAKE_CURRENT_SOURCE_DIR}/ProjectFile.cpp ${CMAKE_CURRENT_SOURCE_DIR}/ProjectFile.h
)
