target_sources(kolporta_settings PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/IniFile.cpp ${CMAKE_CURRENT_SOURCE_DIR}/IniFile.h
  ${CMAKE_CURRENT_SOURCE_DIR}/SmtpProfile.cpp ${CMAKE_CURRENT_SOURCE_DIR}/SmtpProfile.h
  ${CMAKE_CURRENT_SOURCE_DIR}/SmtpProfileDialog.h
  ${CMAKE_CURRENT_SOURCE_DIR}/EditSmtpProfile.cpp ${CMAKE_CURRENT_SOURCE_DIR}/EditSmtpProfile.h
)
