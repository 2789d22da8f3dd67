target_sources(kolporta_compose PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/MailProgramMessage.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/MailProgramMessage.h
)
