# The Linux installation: cmake --install puts the tools into bin, the libraries they load into
# lib/norva (private to the tools: the tools find them by their run path, nvspool its monitor
# and nvinstall-run the installer library by the loader's search), man pages made from the
# tools' --help by help2man, the systemd unit of the "Spooler" service and the demo. CPack makes
# a .deb of the same files (cpack -G DEB in the build directory).
include(GNUInstallDirs)

set(NV_PRIVATE_LIBDIR lib/norva)
set(nv_tools nvspool nvreg nvprinter nvdiscover nvinstall-run)
set(nv_libraries nvplatform nvtcpmon nvinstall)
foreach(tool IN LISTS nv_tools)
  if(NOT TARGET ${tool})
    list(REMOVE_ITEM nv_tools ${tool})
  endif()
endforeach()

set_target_properties(${nv_tools} PROPERTIES INSTALL_RPATH "$ORIGIN/../${NV_PRIVATE_LIBDIR}")
set_target_properties(${nv_libraries} PROPERTIES INSTALL_RPATH "$ORIGIN")
install(TARGETS ${nv_tools} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS ${nv_libraries} LIBRARY DESTINATION ${NV_PRIVATE_LIBDIR})

# One man page per tool, from its --help and --version.
option(NV_MAN_PAGES "Make the tools' man pages with help2man" ON)
if(NV_MAN_PAGES)
  find_program(NV_HELP2MAN help2man)
  if(NOT NV_HELP2MAN)
    message(FATAL_ERROR "help2man makes the tools' man pages: run scripts/install-deps.sh "
                        "(apt-get install help2man), or configure with -DNV_MAN_PAGES=OFF")
  endif()
  set(nv_summary_nvspool "drive the NORVA TCP/IP Port print monitor as the Windows spooler does")
  set(nv_summary_nvreg "the registry of the NORVA tools, with reg.exe's syntax")
  set(nv_summary_nvprinter "a network printer simulator: raw TCP, LPD and SNMP")
  set(nv_summary_nvdiscover "find NORVA printers by SNMP as the installer does")
  set(nv_summary_nvinstall-run "run the NORVA installer's wizards as a driver installer does")
  set(nv_man_pages)
  foreach(tool IN LISTS nv_tools)
    set(page ${CMAKE_BINARY_DIR}/man/${tool}.1)
    add_custom_command(
      OUTPUT ${page}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
      COMMAND ${NV_HELP2MAN} --no-info --section 1 --name "${nv_summary_${tool}}"
              --output ${page} $<TARGET_FILE:${tool}>
      DEPENDS ${tool}
      COMMENT "Man page ${tool}.1"
      VERBATIM)
    list(APPEND nv_man_pages ${page})
  endforeach()
  add_custom_target(man ALL DEPENDS ${nv_man_pages})
  install(FILES ${nv_man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The unit names nvspool where it is installed: the prefix of the installation (CPack's /usr),
# known only when it runs.
install(CODE "
  set(NV_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
  configure_file(\"${PROJECT_SOURCE_DIR}/packaging/norva-spooler.service.in\"
                 \"${CMAKE_BINARY_DIR}/install/norva-spooler.service\" @ONLY)")
install(FILES ${CMAKE_BINARY_DIR}/install/norva-spooler.service DESTINATION lib/systemd/system)
install(PROGRAMS ${PROJECT_SOURCE_DIR}/scripts/demo.sh DESTINATION ${CMAKE_INSTALL_DATADIR}/norva)
install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/docs/decisions.md
        DESTINATION ${CMAKE_INSTALL_DOCDIR} OPTIONAL)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norva)
set(CPACK_PACKAGE_VENDOR NORVA)
set(CPACK_PACKAGE_CONTACT "NORVA <support@norva.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "NORVA TCP/IP Port: print monitor, spooler host and tools on Linux")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The tools' own libraries are in the package; dpkg-shlibdeps finds them in the build tree.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/lib)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/packaging/deb/postinst
    ${PROJECT_SOURCE_DIR}/packaging/deb/prerm ${PROJECT_SOURCE_DIR}/packaging/deb/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
