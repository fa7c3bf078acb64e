# Debian packages made by `cpack -G DEB` in the build folder, one per install
# component:
#   vmborlan           runtime: the programs, the two shared libraries, the
#                      desktop entry, icon, ".prf" file type and manual pages
#   vmborlan-dev       the headers, the .so links and the find_package files
#   vmborlan-designer  the Qt Designer plugin (when it was built)
# Included last, once every install() rule has named its component.
set(CPACK_PACKAGE_NAME vmborlan)
set(CPACK_PACKAGE_VENDOR "VmbOrlan")
set(CPACK_PACKAGE_CONTACT "VmbOrlan <vmborlan@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Importação de declarações do ICMS de arquivos pré-formatados")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

set(CPACK_COMPONENTS_ALL runtime dev)
if(TARGET orlan_designer)
  list(APPEND CPACK_COMPONENTS_ALL designer)
endif()

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
# Dependencies on system libraries come from the binaries themselves
# (dpkg-shlibdeps); those between our own packages from the components below.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# The Designer plugin links our widget library, which lives in the runtime
# package: dpkg-shlibdeps finds it in the build folder.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
# A shlibs file for the two shared libraries, so that a host's own package
# gets its dependency on vmborlan computed the same way.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME vmborlan)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_DEV_PACKAGE_NAME vmborlan-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
# The public headers include Qt's alone, and the package file finds it.
set(CPACK_DEBIAN_DEV_PACKAGE_DEPENDS "qt6-base-dev")
set(CPACK_DEBIAN_DESIGNER_PACKAGE_NAME vmborlan-designer)
set(CPACK_DEBIAN_DESIGNER_PACKAGE_SECTION devel)
# Designer draws the plugin's SVG icon through Qt's SVG image plugin.
set(CPACK_DEBIAN_DESIGNER_PACKAGE_RECOMMENDS "designer-qt6, libqt6svg6")

# Each package carries the copyright file in its own documentation folder,
# as Debian requires.
foreach(component ${CPACK_COMPONENTS_ALL})
  string(TOUPPER ${component} upper)
  install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${CPACK_DEBIAN_${upper}_PACKAGE_NAME} COMPONENT ${component})
endforeach()

include(CPack)

cpack_add_component(runtime DISPLAY_NAME "Programas e bibliotecas"
  DESCRIPTION "orlan, orlan-import, orlan-newdb, orlan-prf-gen e as bibliotecas compartilhadas")
cpack_add_component(dev DISPLAY_NAME "Desenvolvimento" DEPENDS runtime
  DESCRIPTION "Cabeçalhos e arquivos do CMake para find_package(VmbOrlan)")
if(TARGET orlan_designer)
  cpack_add_component(designer DISPLAY_NAME "Plugin do Qt Designer" DEPENDS runtime
    DESCRIPTION "OrlanWidget na caixa de widgets do Qt Designer")
endif()
