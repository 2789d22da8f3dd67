target_sources(kolporta_compose PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/GMimeSupport.cpp ${CMAKE_CURRENT_SOURCE_DIR}/GMimeSupport.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Charsets.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Charsets.h
  ${CMAKE_CURRENT_SOURCE_DIR}/Konvert.cpp ${CMAKE_CURRENT_SOURCE_DIR}/Konvert.h
)
target_sources(kolporta_compose PRIVATE
  ${CMAKE_CURRENT_SOURCE_DIR}/MessageAssembly.cpp ${CMAKE_CURRENT_SOURCE_DIR}/MessageAssembly.h
  ${CMAKE_CURRENT_SOURCE_DIR}/MimeMessage.cpp ${CMAKE_CURRENT_SOURCE_DIR}/MimeMessage.h
  ${CMAKE_CURRENT_SOURCE_DIR}/HeaderValues.cpp ${CMAKE_CURRENT_SOURCE_DIR}/HeaderValues.h
  ${CMAKE_CURRENT_SOURCE_DIR}/HtmlBody.cpp ${CMAKE_CURRENT_SOURCE_DIR}/HtmlBody.h
)
# libxml2's HTML parser reads an HTML body for its plain-text part; GLOBAL, since the users
# of the static library link it too.
pkg_check_modules(LIBXML2 REQUIRED IMPORTED_TARGET GLOBAL libxml-2.0)
target_link_libraries(kolporta_compose PRIVATE PkgConfig::LIBXML2)
