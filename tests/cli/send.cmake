kolporta_test(test_cli_send ${CMAKE_CURRENT_SOURCE_DIR}/tst_CliSend.cpp LIBS kolporta_project)
add_dependencies(test_cli_send kolporta-cli)
