# What a release holds besides the programs and the catalogues (which install
# from their own directories), and its package, both named by the project's
# version: on Linux the manual pages, the completions and the package
# documentation, packed as a Debian package (cpack -G DEB); on Windows the
# manual pages as HTML and the text files, packed as a zip of one folder
# (cpack -G ZIP).
set(TOOLS_PACKAGE_NAME morlink-tools)
set(CPACK_PACKAGE_NAME ${TOOLS_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "send files to a framed-command device, prepare its images")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/packaging_windows.cmake)
  return()
endif()
if(NOT UNIX)
  return()
endif()

set(TOOLS_PACKAGE_MAINTAINER "morlink developers <maintainers@morlink.example.org>"
    CACHE STRING "Maintainer field of the Debian package: name <address>")

# Manual and documentation files are installed gzip-compressed.
find_program(TOOLS_GZIP gzip REQUIRED)
set(TOOLS_DOC_BUILD_DIR ${PROJECT_BINARY_DIR}/doc)
file(MAKE_DIRECTORY ${TOOLS_DOC_BUILD_DIR})
# The package's changelog entry: the version's section of CHANGELOG.md.
add_custom_command(OUTPUT ${TOOLS_DOC_BUILD_DIR}/changelog
  COMMAND ${CMAKE_COMMAND} -DMODE=debian -DIN=${PROJECT_SOURCE_DIR}/CHANGELOG.md
          -DOUT=${TOOLS_DOC_BUILD_DIR}/changelog -DVERSION=${PROJECT_VERSION}
          -DPACKAGE=${TOOLS_PACKAGE_NAME} -DMAINTAINER=${TOOLS_PACKAGE_MAINTAINER}
          -P ${PROJECT_SOURCE_DIR}/cmake/changelog.cmake
  DEPENDS ${PROJECT_SOURCE_DIR}/CHANGELOG.md ${PROJECT_SOURCE_DIR}/cmake/changelog.cmake
  VERBATIM)

set(TOOLS_COMPRESSED)
function(tools_gzip in out)
  add_custom_command(OUTPUT ${out}
    COMMAND ${CMAKE_COMMAND} -DGZIP=${TOOLS_GZIP} -DIN=${in} -DOUT=${out}
            -P ${PROJECT_SOURCE_DIR}/cmake/gzip.cmake
    DEPENDS ${in} ${PROJECT_SOURCE_DIR}/cmake/gzip.cmake
    VERBATIM)
  set(TOOLS_COMPRESSED ${TOOLS_COMPRESSED} ${out} PARENT_SCOPE)
endfunction()

foreach(page morlink.1 pakwrap.1)
  tools_gzip(${PROJECT_SOURCE_DIR}/man/${page} ${TOOLS_DOC_BUILD_DIR}/${page}.gz)
  install(FILES ${TOOLS_DOC_BUILD_DIR}/${page}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endforeach()
tools_gzip(${TOOLS_DOC_BUILD_DIR}/changelog ${TOOLS_DOC_BUILD_DIR}/changelog.gz)
add_custom_target(tools_docs ALL DEPENDS ${TOOLS_COMPRESSED})

# Completion of both command lines in bash.
install(FILES ${PROJECT_SOURCE_DIR}/completions/morlink ${PROJECT_SOURCE_DIR}/completions/pakwrap
        DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/bash-completion/completions)

set(TOOLS_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/${TOOLS_PACKAGE_NAME})
install(FILES ${PROJECT_SOURCE_DIR}/cmake/copyright ${TOOLS_DOC_BUILD_DIR}/changelog.gz
        DESTINATION ${TOOLS_DOCDIR})

# The Debian package: everything above under /usr.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_CONTACT ${TOOLS_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
"morlink sends a file or its standard input, unchanged and in blocks, to a
device driven by a framed command language, over TCP, UDP or a serial port.
It can read and filter the device's answers, fetch data the device announces,
act as the device's remote console and store files on its memory card.
.
pakwrap prepares files for such a device: it stamps a CRC-32, the length and
a load address into firmware images, puts a custom or CRC header in front of
a file, or wraps a file in the commands that store it on the device.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TOOLS_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Directories 0755 whatever the umask of the one who builds the package.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
