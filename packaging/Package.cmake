# The Debian package: both programs and the sample data files in the program
# folder /opt/qkstation (commands on the path through /usr/bin), the udev
# rule, the desktop entry and manual pages made from the programs' --help.
set(QK_PREFIX_DIR opt/qkstation)
install(TARGETS qkstation-cli RUNTIME DESTINATION ${QK_PREFIX_DIR})
if(TARGET qkstation)
  install(TARGETS qkstation RUNTIME DESTINATION ${QK_PREFIX_DIR})
endif()
foreach(f QKMassProd.ini Flash.ini SYS_S.bin SYS_U.bin GDP.bin satatest.bin Layout_Front.jpg Layout_Back.jpg)
  install(FILES ${CMAKE_BINARY_DIR}/bin/${f} DESTINATION ${QK_PREFIX_DIR} PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ GROUP_WRITE WORLD_READ)
endforeach()
install(FILES ${CMAKE_SOURCE_DIR}/packaging/70-qkstation.rules DESTINATION usr/lib/udev/rules.d)
install(FILES ${CMAKE_SOURCE_DIR}/packaging/qkstation.desktop DESTINATION usr/share/applications)

# Manual pages from the same text as --help.
set(QK_MAN_DIR ${CMAKE_BINARY_DIR}/man)
set(QK_MAN_PAGES ${QK_MAN_DIR}/qkstation-cli.1)
add_custom_command(
  OUTPUT ${QK_MAN_DIR}/qkstation-cli.1
  COMMAND ${CMAKE_COMMAND} -E make_directory ${QK_MAN_DIR}
  COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-man.sh $<TARGET_FILE:qkstation-cli> qkstation-cli "QK Station commands" ${QK_MAN_DIR}/qkstation-cli.1
  DEPENDS qkstation-cli ${CMAKE_SOURCE_DIR}/scripts/make-man.sh
  COMMENT "Manual page of qkstation-cli")
if(TARGET qkstation)
  list(APPEND QK_MAN_PAGES ${QK_MAN_DIR}/qkstation.1)
  add_custom_command(
    OUTPUT ${QK_MAN_DIR}/qkstation.1
    COMMAND ${CMAKE_COMMAND} -E make_directory ${QK_MAN_DIR}
    COMMAND ${CMAKE_SOURCE_DIR}/scripts/make-man.sh $<TARGET_FILE:qkstation> qkstation "QK Station commands" ${QK_MAN_DIR}/qkstation.1
    DEPENDS qkstation ${CMAKE_SOURCE_DIR}/scripts/make-man.sh
    COMMENT "Manual page of qkstation")
endif()
add_custom_target(man-pages ALL DEPENDS ${QK_MAN_PAGES})
install(FILES ${QK_MAN_PAGES} DESTINATION usr/share/man/man1)

# Commands on the path: links into the program folder (the executable's folder stays the program folder).
foreach(p qkstation-cli qkstation)
  if(p STREQUAL "qkstation" AND NOT TARGET qkstation)
    continue()
  endif()
  install(CODE "file(MAKE_DIRECTORY \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin\")
    file(CREATE_LINK /${QK_PREFIX_DIR}/${p} \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/usr/bin/${p}\" SYMBOLIC)")
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qkstation)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "QK Station developers <station@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "SSD production station for one flash-controller family")
set(CPACK_PACKAGE_DESCRIPTION "Tests, programs and formats up to 50 SSDs at a time through USB hubs; window and command line.")
# Destinations are relative to the root of the target system.
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libcap2-bin, udev, adduser")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA "${CMAKE_SOURCE_DIR}/packaging/postinst;${CMAKE_SOURCE_DIR}/packaging/postrm")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
