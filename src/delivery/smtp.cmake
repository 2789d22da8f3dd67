target_sources(kolporta_delivery PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/SmtpClient.cpp ${CMAKE_CURRENT_SOURCE_DIR}/SmtpClient.h
  ${CMAKE_CURRENT_SOURCE_DIR}/SmtpSession.h
)
