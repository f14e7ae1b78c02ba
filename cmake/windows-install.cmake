# Installing on Windows: the two programs with the Qt and MinGW runtime libraries and the Qt
# plugins beside them, where a deployed Qt program looks first; scripts/windows/setup.sh stages
# this tree and makes the setup program of it.
install(TARGETS morvanta morv-db RUNTIME DESTINATION .)
foreach(module Core Gui Widgets PrintSupport Network)
  install(FILES $<TARGET_FILE:Qt6::${module}> DESTINATION .)
endforeach()
set(qt_plugins ${QT6_INSTALL_PREFIX}/${QT6_INSTALL_PLUGINS})
install(FILES ${qt_plugins}/platforms/qwindows.dll ${qt_plugins}/platforms/qoffscreen.dll DESTINATION platforms)
install(FILES ${qt_plugins}/styles/qwindowsvistastyle.dll DESTINATION styles)
install(FILES ${qt_plugins}/imageformats/qico.dll ${qt_plugins}/imageformats/qjpeg.dll
  ${qt_plugins}/imageformats/qgif.dll DESTINATION imageformats)
# The compiler's own runtime (posix threads), as the compiler finds it.
foreach(dll libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll)
  execute_process(COMMAND ${CMAKE_CXX_COMPILER} -print-file-name=${dll} OUTPUT_VARIABLE path
    OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${path}")
    unset(path)
    find_file(path ${dll} PATHS /usr/x86_64-w64-mingw32/lib NO_DEFAULT_PATH NO_CACHE)
  endif()
  if(NOT path)
    message(FATAL_ERROR "The MinGW runtime library ${dll} was not found")
  endif()
  install(FILES ${path} DESTINATION .)
endforeach()
