# What `cmake --install` puts where, and the Debian package made from it (`cpack -G DEB` in the
# build folder): the two programs, the desktop entry with the program's icon, the demo's text
# files that seed a user's folder, the manual pages and the user guide.
include(GNUInstallDirs)
# Packaging takes what is built: `cpack` must not rebuild the whole tree (tests included) first.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)

install(TARGETS sorvdemo sorvtool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES app/texts/SorvDemo.TXT app/texts/SorveQts.TXT app/texts/Order.Frm
        DESTINATION ${CMAKE_INSTALL_DATADIR}/sorvdemo)
install(FILES packaging/sorvdemo.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size 16 32 48 64 128 256)
  install(FILES app/icons/sorvdemo-${size}.png
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps RENAME sorvdemo.png)
endforeach()

# Manual pages go in compressed, as the distribution keeps them.
find_program(GZIP_PROGRAM gzip REQUIRED)
set(man_pages)
foreach(page sorvtool.1 sorvdemo.1)
  set(out ${PROJECT_BINARY_DIR}/man/${page}.gz)
  add_custom_command(OUTPUT ${out}
                     COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
                     COMMAND ${GZIP_PROGRAM} -9nc ${PROJECT_SOURCE_DIR}/docs/man/${page} > ${out}
                     DEPENDS ${PROJECT_SOURCE_DIR}/docs/man/${page} VERBATIM)
  list(APPEND man_pages ${out})
endforeach()
add_custom_target(manpages ALL DEPENDS ${man_pages})
install(FILES ${man_pages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

install(DIRECTORY docs/guide DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(FILES README.md docs/qnl-format.md DESTINATION ${CMAKE_INSTALL_DOCDIR})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sorvdemo)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_VENDOR "sorvdemo")
set(CPACK_PACKAGE_CONTACT "sorvdemo developers <sorvdemo@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "desktop database program over two related tables")
set(CPACK_PACKAGE_DESCRIPTION
    "sorvdemo browses a Customer and a People table in scrolling lists, edits their records in\n"
    "forms, and sorts, rearranges, exports, prints and graphs every list. sorvtool, its\n"
    "command-line companion, checks, repairs, exports and imports the tables.")
set(CPACK_DEBIAN_PACKAGE_SECTION misc)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
find_program(DPKG_SHLIBDEPS dpkg-shlibdeps)
if(DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6widgets6, libqt6gui6, libqt6core6, libqt6printsupport6, libstdc++6, libc6")
endif()
include(CPack)
