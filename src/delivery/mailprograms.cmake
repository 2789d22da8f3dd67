target_sources(kolporta_delivery PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/MailObject.cpp ${CMAKE_CURRENT_SOURCE_DIR}/MailObject.h
  ${CMAKE_CURRENT_SOURCE_DIR}/MailPrograms.cpp ${CMAKE_CURRENT_SOURCE_DIR}/MailPrograms.h
)
