# lumerca-host.exe: loads lumerca_marker.dll as the host application does and
# imports one file with it. Windows only.
if(WIN32)
  add_executable(lumerca-host ${CMAKE_CURRENT_LIST_DIR}/host/lumerca_host.cpp)
  # Built with the DLL, but linked only at run time (LoadLibrary).
  add_dependencies(lumerca-host lumerca_marker)
  install(TARGETS lumerca-host RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
endif()
