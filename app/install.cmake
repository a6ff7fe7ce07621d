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

# Manual pages, the changelog (gzipped as Debian wants them), the terms and
# bash completion for norvane-cli.
set(doc_out ${CMAKE_CURRENT_BINARY_DIR}/doc)
set(gzipped)
foreach(source man/norvane.1 man/norvane-cli.1 package/changelog)
  get_filename_component(name ${source} NAME)
  add_custom_command(
    OUTPUT ${doc_out}/${name}.gz
    COMMAND ${CMAKE_COMMAND} -E make_directory ${doc_out}
    COMMAND sh -c "gzip -9n -c \"$1\" > \"$2\"" sh
            ${CMAKE_CURRENT_SOURCE_DIR}/${source} ${doc_out}/${name}.gz
    DEPENDS ${source}
    VERBATIM)
  list(APPEND gzipped ${doc_out}/${name}.gz)
endforeach()
add_custom_target(norvane_docs ALL DEPENDS ${gzipped})
install(FILES ${doc_out}/norvane.1.gz ${doc_out}/norvane-cli.1.gz
  DESTINATION share/man/man1)
install(FILES ${doc_out}/changelog.gz package/copyright
  DESTINATION share/doc/norvane)
install(FILES package/norvane-cli.bash-completion
  DESTINATION share/bash-completion/completions RENAME norvane-cli)

# The Debian package: cpack -G DEB in the build folder.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME norvane)
set(CPACK_PACKAGE_VENDOR "Velmora Networks")
set(CPACK_PACKAGE_CONTACT "Velmora Networks <support@velmora.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "find a LAN host's hardware address and its network card's maker")
# Wrapped as the package's long description is shown.
set(CPACK_PACKAGE_DESCRIPTION "\
Type the IPv4 address of a host on the local network and Norvane shows its
hardware (MAC) address and the maker of its network card, looked up in the
IEEE vendor table it ships with.

The package holds the window program, norvane, and its command-line
companion, norvane-cli, for scripts and machines without a desktop.")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.velmora.example")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The face the window's labels fall back on where Tahoma is missing.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-dejavu-core")
# The window on Wayland desktops without going through XWayland.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
  WORLD_READ WORLD_EXECUTE)
include(CPack)
