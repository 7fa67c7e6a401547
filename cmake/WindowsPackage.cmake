# make windows: build-windows/vorlent-VERSION-win64.zip (unpack and run: the
# program directory is the unpacked folder) and vorlent-VERSION-setup.exe
# (installs to Program Files; each user's settings go to %APPDATA%\Vorlent).
set(VORLENT_MINGW_RUNTIME)
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll}
    OUTPUT_VARIABLE found OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT EXISTS "${found}")
    # The thread library sits with the mingw-w64 runtime, not with gcc.
    set(found /usr/x86_64-w64-mingw32/lib/${dll})
  endif()
  list(APPEND VORLENT_MINGW_RUNTIME ${found})
endforeach()

find_program(VORLENT_MAKENSIS makensis)
find_program(VORLENT_CONVERT convert)
set(programs $<TARGET_FILE:vorlent-cli>)
set(package_depends vorlent-cli vorlent_resources)
set(qt_prefix "")
set(qcp_library "")
if(VORLENT_GUI)
  list(APPEND programs $<TARGET_FILE:vorlent>)
  list(APPEND package_depends vorlent)
  get_filename_component(qt_prefix "${Qt6_DIR}/../../.." ABSOLUTE)
  string(REPLACE ".dll.a" ".dll" qcp_library "${QCUSTOMPLOT_QT6_LIBRARY}")
  string(REPLACE "/lib/lib" "/bin/lib" qcp_library "${qcp_library}")
endif()

add_custom_target(windows_package
  COMMAND ${CMAKE_COMMAND}
    "-DPROGRAMS=${programs}"
    "-DRUNTIME=${VORLENT_MINGW_RUNTIME}"
    "-DQT_PREFIX=${qt_prefix}"
    "-DQCP_LIBRARY=${qcp_library}"
    "-DSOURCE=${CMAKE_SOURCE_DIR}"
    "-DOUT=${CMAKE_BINARY_DIR}"
    "-DVERSION=${PROJECT_VERSION}"
    "-DMAKENSIS=${VORLENT_MAKENSIS}"
    "-DCONVERT=${VORLENT_CONVERT}"
    "-DSTRIP=${CMAKE_STRIP}"
    -P ${CMAKE_SOURCE_DIR}/packaging/windows/pack.cmake
  DEPENDS ${package_depends}
  VERBATIM)
