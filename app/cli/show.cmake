target_sources(kolporta-cli PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/ShowCommand.cpp)
