kolporta_test(test_inifile ${CMAKE_CURRENT_SOURCE_DIR}/tst_IniFile.cpp LIBS kolporta_settings)
kolporta_test(test_editsmtpprofile ${CMAKE_CURRENT_SOURCE_DIR}/tst_EditSmtpProfile.cpp
              LIBS kolporta_settings)
