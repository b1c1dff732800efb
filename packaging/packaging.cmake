# Install rules and the Debian package. Included from the top-level
# CMakeLists.txt, so PROJECT_VERSION is the one version of the tool (the
# window title says the same).
#
#   cmake --install <build> --prefix <dir>   installs the tool into any prefix
#                                            (<build>/install_manifest.txt lists
#                                            what it wrote, for removing it)
#   make package                             builds the .deb into the build folder

include(GNUInstallDirs)

set(TAVIX_PACKAGING_DIR ${CMAKE_CURRENT_LIST_DIR})
# The Qt 6 build is a package of a name of its own, so that its file and apt
# tell it from the Qt 5 build's; installing either replaces the other.
set(TAVIX_PACKAGE_NAME tavix-gateway-tool)
set(CPACK_DEBIAN_PACKAGE_CONFLICTS tavix-gateway-tool-qt6)
if(QT_MAJOR STREQUAL "6")
    set(TAVIX_PACKAGE_NAME tavix-gateway-tool-qt6)
    set(CPACK_DEBIAN_PACKAGE_CONFLICTS tavix-gateway-tool)
    set(CPACK_DEBIAN_PACKAGE_PROVIDES tavix-gateway-tool)
endif()
set(CPACK_DEBIAN_PACKAGE_REPLACES ${CPACK_DEBIAN_PACKAGE_CONFLICTS})
# Installing and packaging take what has been built: `make package` builds
# first, and the package test must not rebuild the tree under the other tests
# running beside it.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
# The sizes the icon is drawn in (tools/draw-images), each for its own
# hicolor folder.
set(TAVIX_ICON_SIZES 16 32 48 64 128 256)
# The AppStream id, reverse DNS of the maker's domain.
set(TAVIX_APPSTREAM_ID example.halvane.tavix_gateway_tool)
# Whatever the builder's umask, folders are packed as Debian expects them.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# Debian wants the changelog and the manual page compressed to the maximum,
# without a name or time stamp in the header. Made at configure time, again
# whenever the source changes.
foreach(pair "changelog;changelog.Debian.gz" "tavix-gateway-tool.1;tavix-gateway-tool.1.gz")
    list(GET pair 0 source)
    list(GET pair 1 compressed)
    execute_process(COMMAND gzip -9nc ${TAVIX_PACKAGING_DIR}/${source}
                    OUTPUT_FILE ${CMAKE_BINARY_DIR}/${compressed} RESULT_VARIABLE gzip_result)
    if(NOT gzip_result EQUAL 0)
        message(FATAL_ERROR "gzip ${source}: ${gzip_result}")
    endif()
    set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TAVIX_PACKAGING_DIR}/${source})
endforeach()

install(TARGETS tavix-gateway-tool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${TAVIX_PACKAGING_DIR}/tavix-gateway-tool.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
foreach(size IN LISTS TAVIX_ICON_SIZES)
    install(FILES ${TAVIX_PACKAGING_DIR}/icons/tavix-gateway-tool-${size}.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
            RENAME tavix-gateway-tool.png)
endforeach()
install(FILES ${TAVIX_PACKAGING_DIR}/${TAVIX_APPSTREAM_ID}.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${CMAKE_BINARY_DIR}/tavix-gateway-tool.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TAVIX_PACKAGING_DIR}/copyright ${CMAKE_BINARY_DIR}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${TAVIX_PACKAGE_NAME})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${TAVIX_PACKAGE_NAME})
set(CPACK_PACKAGE_VENDOR "Halvane")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Connect to, watch and configure Halvane NMEA 2000 gateways")
# Wrapped by hand: dpkg shows the long description as written.
set(CPACK_PACKAGE_DESCRIPTION
    "A desktop tool for the two Halvane NMEA 2000 gateways: the Sernix, connected
through a USB serial adapter, and the Torvel, reached over its own wireless
network. It shows and changes the gateway's conversion mode, shows its status
(bus load, devices, uptime, address) and all of its traffic, sends lines typed
by the user and logs received traffic to a CSV file.")
set(CPACK_PACKAGE_CONTACT "Halvane Tavix team <tavix@halvane.example>")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Halvane Tavix team <tavix@halvane.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION comm)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
# tavix-gateway-tool_<version>-<release>_<arch>.deb, as Debian names its files.
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# dpkg-shlibdeps fills Depends from the libraries the binary really links
# (the Qt libraries, libstdc++, libc), with the versions this build needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)
# The build type keeps debug information; the package does not need it.
set(CPACK_STRIP_FILES ON)
include(CPack)

if(TAVIX_BUILD_TESTS)
    # The toolkit libraries the package must depend on, as this build links
    # them; the test asks dpkg which packages hold them.
    set(qt_libraries $<TARGET_FILE:Qt${QT_MAJOR}::Widgets> $<TARGET_FILE:Qt${QT_MAJOR}::SerialPort>
                     $<TARGET_FILE:Qt${QT_MAJOR}::Network>)
    add_test(NAME tst_package
             COMMAND bash ${PROJECT_SOURCE_DIR}/tests/tst_package.sh
                     ${CMAKE_BINARY_DIR} ${PROJECT_VERSION} "${TAVIX_ICON_SIZES}" ${TAVIX_APPSTREAM_ID}
                     ${TAVIX_PACKAGE_NAME} "${qt_libraries}")
    set_tests_properties(tst_package PROPERTIES TIMEOUT 300 ENVIRONMENT "LC_ALL=C.UTF-8")
endif()
