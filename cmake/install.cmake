# The installed layout (GNUInstallDirs): the plugin, its header and pkg-config file, hcs, the README and
# the examples. Included from the top-level CMakeLists.txt once every target exists.

install(TARGETS httpCalloutScoring LIBRARY DESTINATION ${HCS_PLUGIN_INSTALL_DIR})
install(FILES ${PROJECT_SOURCE_DIR}/include/httpCalloutScoring.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/cmake/debian/copyright
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY ${PROJECT_SOURCE_DIR}/examples/ DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)
if(TARGET hcs)
  install(TARGETS hcs RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Manual pages are installed compressed, as man and Debian expect them.
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tools/hcs/hcs.1)
  file(MAKE_DIRECTORY ${PROJECT_BINARY_DIR}/man)
  file(ARCHIVE_CREATE OUTPUT ${PROJECT_BINARY_DIR}/man/hcs.1.gz PATHS ${PROJECT_SOURCE_DIR}/tools/hcs/hcs.1
       FORMAT raw COMPRESSION GZip COMPRESSION_LEVEL 9)
  install(FILES ${PROJECT_BINARY_DIR}/man/hcs.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# pkg-config: the prefix is only known when installing (cmake --install --prefix, cpack), so the file is
# written in two steps. Now everything but the prefix; the prefix placeholder passes through unchanged.
function(hcs_pc_path out dir)
  if(IS_ABSOLUTE "${dir}")
    set(${out} "${dir}" PARENT_SCOPE)
  else()
    set(${out} "\${prefix}/${dir}" PARENT_SCOPE)
  endif()
endfunction()
hcs_pc_path(HCS_PC_INCLUDEDIR "${CMAKE_INSTALL_INCLUDEDIR}")
hcs_pc_path(HCS_PC_PLUGINDIR "${HCS_PLUGIN_INSTALL_DIR}")
set(HCS_PC_PREFIX "@HCS_PC_PREFIX@")
set(HCS_PLUGIN_FILE "${CMAKE_SHARED_MODULE_PREFIX}httpCalloutScoring${CMAKE_SHARED_MODULE_SUFFIX}")
configure_file(${PROJECT_SOURCE_DIR}/cmake/httpCalloutScoring.pc.in
               ${PROJECT_BINARY_DIR}/pkgconfig/httpCalloutScoring.pc.in @ONLY)
# Then, when installing, the prefix installed to (without DESTDIR, which only stages the files).
install(CODE "
  set(HCS_PC_PREFIX \"\${CMAKE_INSTALL_PREFIX}\")
  configure_file([[${PROJECT_BINARY_DIR}/pkgconfig/httpCalloutScoring.pc.in]]
                 [[${PROJECT_BINARY_DIR}/pkgconfig/httpCalloutScoring.pc]] @ONLY)
")
install(FILES ${PROJECT_BINARY_DIR}/pkgconfig/httpCalloutScoring.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
