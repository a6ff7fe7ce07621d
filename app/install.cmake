# Installed layout, shared by both programs:
#   <prefix>/lib/norvane/{norvane,norvane-cli,oui.ieee}
#   <prefix>/bin/{norvane,norvane-cli} -> ../lib/norvane/...
# Each program looks for oui.ieee beside its real executable, so the links in
# bin work from any prefix.

# Installs <prefix>/bin/<name> as a relative link to lib/norvane/<name>.
function(norvane_install_link name)
  if(WIN32)
    return()
  endif()
  set(link ${CMAKE_CURRENT_BINARY_DIR}/links/${name})
  file(MAKE_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/links)
  file(CREATE_LINK ../lib/norvane/${name} ${link} SYMBOLIC)
  install(FILES ${link} DESTINATION bin)
endfunction()

install(FILES ${PROJECT_SOURCE_DIR}/res/oui.ieee DESTINATION lib/norvane)

if(WIN32)
  return()
endif()

# The Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norvane)
set(CPACK_PACKAGE_VENDOR "Velmora Networks")
set(CPACK_PACKAGE_CONTACT "Velmora Networks <support@velmora.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Finds a LAN host's hardware address and the maker of its network card")
set(CPACK_PACKAGE_DESCRIPTION
  "Type a host's IPv4 address and Norvane shows its hardware (MAC) address and \
the maker of its network card, looked up in the IEEE vendor table it ships \
with. A window program and a command-line companion.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The face the window's labels fall back on where Tahoma is missing.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
include(CPack)
