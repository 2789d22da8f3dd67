kolporta_test(test_cli_show tst_ShowCommand.cpp LIBS Qt6::Core)
add_dependencies(test_cli_show kolporta-cli)
