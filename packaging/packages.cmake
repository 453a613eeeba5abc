# Debian packages (make package): `penshell`, the programs and their manual
# pages, and `libpenshell-physics-dev`, the kernel's development files. They
# always install into /usr; scripts/package.sh also configures the build for
# /usr, so that the library lands in Debian's multiarch directory.

# The Debian revision comes from the newest changelog entry, which must be
# about this version: the package's version and its changelog then agree.
set(debian_dir ${CMAKE_CURRENT_LIST_DIR})
file(STRINGS ${debian_dir}/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^penshell \\(${PROJECT_VERSION}-([0-9]+)\\)")
  message(WARNING "packaging/changelog: the newest entry is not about version ${PROJECT_VERSION}")
endif()
set(debian_revision "${CMAKE_MATCH_1}")

# The licence goes wherever the files go; Debian's changelog only where a
# component is installed alone, as CPack does, not with a plain `cmake --install`.
add_custom_command(OUTPUT changelog.Debian.gz
  COMMAND gzip -9n -c ${debian_dir}/changelog > changelog.Debian.gz
  DEPENDS ${debian_dir}/changelog)
add_custom_target(debian_changelog ALL DEPENDS changelog.Debian.gz)
foreach(pair "programs;penshell" "dev;libpenshell-physics-dev")
  list(GET pair 0 component)
  list(GET pair 1 package)
  install(FILES ${debian_dir}/copyright
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component} EXCLUDE_FROM_ALL)
endforeach()

set(PENSHELL_HOMEPAGE "" CACHE STRING "Homepage field of the Debian packages (none when empty)")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME penshell)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "penshell developers")
set(CPACK_PACKAGE_CONTACT "penshell developers <maintainers@users.noreply.c-seed-dbccf0c9.example>")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_OUTPUT_FILE_PREFIX ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL programs dev)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${debian_revision})
set(CPACK_DEBIAN_PACKAGE_SOURCE penshell)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
if(PENSHELL_HOMEPAGE)
  set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${PENSHELL_HOMEPAGE})
endif()
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

set(CPACK_DEBIAN_PROGRAMS_PACKAGE_NAME penshell)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_SHLIBDEPS ON)
# Beyond what dpkg-shlibdeps finds in the programs: libgl1, the GLX library
# that SDL opens at run time to make the OpenGL window (it brings Mesa's
# drivers); and the SDL 1.2 compatibility library by name, because the
# libsdl1.2debian that dpkg-shlibdeps asks for is also the classic library,
# which apt would choose and whose first relative motion makes the pen jump.
set(CPACK_DEBIAN_PROGRAMS_PACKAGE_DEPENDS "libgl1, libsdl1.2-compat-shim")
# Descriptions: the synopsis, then the long text; CPack indents its lines and
# writes an empty line as Debian's " .".
set(programs_description "pen cursor and thought bubble in an OpenGL window
penshell opens a 640x480 OpenGL window (or takes the whole screen), hides
and grabs the pointer, and draws a flat background, a sleeping thought
bubble and a pen cursor that follows the mouse, both pictures inverting
what lies under them, until a key is pressed.

penshell-cloth shows the particle kernel at work: a cloth hanging from
pins, which the pen pulls while a mouse button is held.

picture_text converts images to and from the printable picture text in
which penshell carries its pictures.")
set(CPACK_DEBIAN_PROGRAMS_DESCRIPTION "${programs_description}")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libpenshell-physics-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_DESCRIPTION "2-D particle physics kernel of penshell (static library)
A small particle kernel on caller-owned data: a six-float particle record,
a time-corrected Verlet step over an array of particles, a square-root-free
approximate distance and a spring constraint. Its results are the same bits
at any optimisation level, with GCC or Clang, on x86-64 and on aarch64.

This package holds the header <penshell/physics.h>, the static library,
the CMake package penshell (target penshell::physics) and the
pkg-config module penshell-physics.")

include(CPack)
