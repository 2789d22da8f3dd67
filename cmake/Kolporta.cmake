include(GNUInstallDirs)

# ccache, when installed, makes a fresh clone's build cheap on a machine that built before.
# The base folder makes paths relative, so two clones in different folders share hits, and
# the sloppiness lets precompiled headers be cached.
# A launcher given as a bare ccache on the command line is wrapped the same way: without the
# sloppiness every file with a precompiled header would be uncacheable.
find_program(KOLPORTA_CCACHE ccache)
if(CMAKE_CXX_COMPILER_LAUNCHER MATCHES "(^|/)ccache$")
  set(KOLPORTA_CCACHE ${CMAKE_CXX_COMPILER_LAUNCHER})
  unset(CMAKE_CXX_COMPILER_LAUNCHER CACHE)
  unset(CMAKE_CXX_COMPILER_LAUNCHER)
endif()
if(KOLPORTA_CCACHE AND NOT CMAKE_CXX_COMPILER_LAUNCHER)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CMAKE_COMMAND} -E env
      CCACHE_BASEDIR=${CMAKE_SOURCE_DIR} CCACHE_NOHASHDIR=1
      CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
      ${KOLPORTA_CCACHE})
endif()

# Precompiled Qt headers. Every target that uses them is built with the core's cast rules,
# so one header per kind (core, tests, widgets) is compiled once and reused.
set(KOLPORTA_PCH_CORE
  <QByteArray> <QDateTime> <QDir> <QFile> <QFileInfo> <QHash> <QList> <QMap> <QObject>
  <QRegularExpression> <QString> <QStringList> <QTextStream> <QVariant>
  <functional> <memory> <optional> <vector>)
add_library(kolporta_pch_core STATIC ${CMAKE_SOURCE_DIR}/cmake/pch.cpp)
target_link_libraries(kolporta_pch_core PUBLIC Qt6::Core)
target_compile_definitions(kolporta_pch_core PUBLIC QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII)
target_precompile_headers(kolporta_pch_core PRIVATE ${KOLPORTA_PCH_CORE})

add_library(kolporta_pch_test STATIC ${CMAKE_SOURCE_DIR}/cmake/pch.cpp)
# Not QtTest itself: it defines the test's own build folder, which differs per folder and
# would make the header unusable.
target_link_libraries(kolporta_pch_test PUBLIC Qt6::Core Qt6::Network)
target_compile_definitions(kolporta_pch_test PUBLIC QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII)
target_precompile_headers(kolporta_pch_test PRIVATE ${KOLPORTA_PCH_CORE}
  <QTemporaryDir> <QProcess> <QTcpServer> <QTcpSocket> <QSslSocket>)

# kolporta_use_pch(target [KIND core|test|widgets])
function(kolporta_use_pch target)
  cmake_parse_arguments(P "" "KIND" "" ${ARGN})
  if(NOT P_KIND)
    set(P_KIND core)
  endif()
  target_precompile_headers(${target} REUSE_FROM kolporta_pch_${P_KIND})
endfunction()

# kolporta_core_library(name [NO_PCH] sources...): a static core library without widgets.
# NO_PCH is for GMime users: GLib's headers must come before Qt's keywords, and GMime's
# flags differ from the shared header's.
function(kolporta_core_library name)
  cmake_parse_arguments(L "NO_PCH" "" "" ${ARGN})
  add_library(${name} STATIC ${L_UNPARSED_ARGUMENTS})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR}/src)
  # Every conversion between bytes and text is written out.
  target_compile_definitions(${name} PUBLIC QT_NO_CAST_FROM_ASCII QT_NO_CAST_TO_ASCII)
  if(NOT L_NO_PCH)
    kolporta_use_pch(${name})
  endif()
  set_property(GLOBAL APPEND PROPERTY KOLPORTA_CORE_TARGETS ${name})
endfunction()

# kolporta_test(name sources... LIBS libs...): a Qt Test executable run by CTest
# with a fresh, empty KOLPORTA_HOME of its own.
function(kolporta_test name)
  cmake_parse_arguments(T "WIDGETS;NO_PCH" "" "LIBS" ${ARGN})
  add_executable(${name} ${T_UNPARSED_ARGUMENTS})
  target_link_libraries(${name} PRIVATE ${T_LIBS} kolporta_test_support Qt6::Test)
  target_compile_definitions(${name} PRIVATE
    KOLPORTA_TEST_DATA="${CMAKE_SOURCE_DIR}/tests/data"
    KOLPORTA_BUILD_DIR="${CMAKE_BINARY_DIR}")
  if(T_NO_PCH)
  elseif(T_WIDGETS)
    kolporta_use_pch(${name} KIND widgets)
  else()
    kolporta_use_pch(${name} KIND test)
  endif()
  add_test(NAME ${name}
           COMMAND ${CMAKE_SOURCE_DIR}/tests/support/with-temp-home $<TARGET_FILE:${name}>)
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen" TIMEOUT 300)
endfunction()

# Fails the configuration when a core library reaches Qt Widgets through any of its links:
# the core must build and run without a window system.
function(kolporta_check_core_links)
  get_property(core GLOBAL PROPERTY KOLPORTA_CORE_TARGETS)
  foreach(target ${core})
    set(pending ${target})
    set(seen "")
    while(pending)
      list(POP_FRONT pending item)
      if(item IN_LIST seen)
        continue()
      endif()
      list(APPEND seen ${item})
      if(item MATCHES "Widgets|QScintilla|qscintilla|WebEngine")
        message(FATAL_ERROR "core library ${target} links ${item}; only src/ui may")
      endif()
      if(TARGET ${item})
        get_target_property(imported ${item} IMPORTED)
        get_target_property(links ${item} INTERFACE_LINK_LIBRARIES)
        if(NOT imported)
          get_target_property(direct ${item} LINK_LIBRARIES)
          list(APPEND links ${direct})
        endif()
        foreach(link ${links})
          if(link AND NOT link MATCHES "NOTFOUND$")
            string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" link "${link}")
            list(APPEND pending ${link})
          endif()
        endforeach()
      endif()
    endwhile()
  endforeach()
endfunction()
