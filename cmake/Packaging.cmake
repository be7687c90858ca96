# The Debian package: `cmake --build build --target corvane_package_files`,
# then `cpack --config build/CPackConfig.cmake` (scripts/package does both).
#
# Layout on the target machine:
#   /opt/corvane-dsprinter/          the executables; servidor.cfg, SYS_INFO.INI
#                                    and aliases.ini are written here later
#   /usr/bin/<program>               links to the commands
#   /lib/systemd/system/CorvaneDSPrinterService.service
#   /usr/share/applications, /usr/share/icons   the desktop program's entry
#
# Every executable that exists as a target is packaged, so programs added
# later are picked up without changes here.

set(CORVANE_PACKAGE_NAME corvane-dsprinter)
set(CORVANE_INSTALL_DIR /opt/${CORVANE_PACKAGE_NAME})
set(CORVANE_SERVICE_UNIT CorvaneDSPrinterService.service)
set(CORVANE_PACKAGING_DIR ${CMAKE_CURRENT_SOURCE_DIR}/packaging)
set(CORVANE_PACKAGING_OUT ${CMAKE_BINARY_DIR}/packaging)

# Install rules use paths from the file system root (the package's layout),
# and `cmake --install` / cpack do not rebuild the whole tree first: the
# package target below names what the package needs.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY TRUE)

set(CORVANE_PACKAGED_PROGRAMS)
foreach(program CorvaneDSPrinterService CorvaneDSPrinterDesktop CorvaneDSPrinterConfig CorvaneDSPrinterClient)
    if(TARGET ${program})
        list(APPEND CORVANE_PACKAGED_PROGRAMS ${program})
    endif()
endforeach()

if(NOT TARGET CorvaneDSPrinterService)
    return()
endif()

# The unit comes from the same renderer as "/INSTALL", run on the installed path.
add_executable(corvane_render_service_unit ${CORVANE_PACKAGING_DIR}/render_service_unit.cpp)
target_link_libraries(corvane_render_service_unit PRIVATE corvane_service)
set_target_properties(corvane_render_service_unit PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CORVANE_PACKAGING_OUT})
add_custom_command(
    OUTPUT ${CORVANE_PACKAGING_OUT}/${CORVANE_SERVICE_UNIT}
    COMMAND corvane_render_service_unit ${CORVANE_INSTALL_DIR}/CorvaneDSPrinterService
            > ${CORVANE_PACKAGING_OUT}/${CORVANE_SERVICE_UNIT}
    DEPENDS corvane_render_service_unit
    COMMENT "Rendering ${CORVANE_SERVICE_UNIT}"
    VERBATIM)

# Links in /usr/bin, made here as dangling links to the installed programs.
file(MAKE_DIRECTORY ${CORVANE_PACKAGING_OUT}/bin)
set(CORVANE_PACKAGE_LINKS)
foreach(program IN LISTS CORVANE_PACKAGED_PROGRAMS)
    file(CREATE_LINK ${CORVANE_INSTALL_DIR}/${program} ${CORVANE_PACKAGING_OUT}/bin/${program} SYMBOLIC)
    list(APPEND CORVANE_PACKAGE_LINKS ${CORVANE_PACKAGING_OUT}/bin/${program})
endforeach()

# Maintainer scripts, with the folder and unit names filled in.
foreach(script postinst prerm postrm)
    configure_file(${CORVANE_PACKAGING_DIR}/debian/${script} ${CORVANE_PACKAGING_OUT}/debian/${script}
                   @ONLY FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                   WORLD_READ WORLD_EXECUTE)
endforeach()

add_custom_target(corvane_package_files ALL
    DEPENDS ${CORVANE_PACKAGED_PROGRAMS} ${CORVANE_PACKAGING_OUT}/${CORVANE_SERVICE_UNIT})

install(TARGETS ${CORVANE_PACKAGED_PROGRAMS} RUNTIME DESTINATION opt/${CORVANE_PACKAGE_NAME})
install(FILES ${CORVANE_PACKAGE_LINKS} DESTINATION usr/bin)
install(FILES ${CORVANE_PACKAGING_OUT}/${CORVANE_SERVICE_UNIT} DESTINATION lib/systemd/system)
install(FILES README.md DESTINATION usr/share/doc/${CORVANE_PACKAGE_NAME})
if(TARGET CorvaneDSPrinterDesktop)
    install(FILES ${CORVANE_PACKAGING_DIR}/CorvaneDSPrinterDesktop.desktop DESTINATION usr/share/applications)
    install(FILES ${CORVANE_PACKAGING_DIR}/corvane-dsprinter.svg DESTINATION usr/share/icons/hicolor/scalable/apps)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${CORVANE_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Corvane")
set(CPACK_PACKAGE_CONTACT "Corvane <suporte@corvane.com.br>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Network print server for point-of-sale programs (DataSnap TCP/IP and REST)")
set(CPACK_PACKAGE_DESCRIPTION "Prints receipts and reports sent by the shop's programs over the DataSnap \
TCP/IP transport or REST. Runs as the systemd service CorvaneDSPrinterService; CorvaneDSPrinterConfig \
writes its settings.")
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://www.corvane.com.br/")
# The libraries the programs link come from dpkg-shlibdeps; what they open by
# name at run time is listed here.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CORVANE_DEB_DEPENDS "fonts-liberation")
if(TARGET CorvaneDSPrinterDesktop)
    string(APPEND CORVANE_DEB_DEPENDS ", qt6-qpa-plugins")
endif()
set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CORVANE_DEB_DEPENDS}")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "cups, libfbclient2, libmariadb3")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA
    ${CORVANE_PACKAGING_OUT}/debian/postinst ${CORVANE_PACKAGING_OUT}/debian/prerm
    ${CORVANE_PACKAGING_OUT}/debian/postrm)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION TRUE)
include(CPack)
