# Installation under a prefix (`make install`) and the Debian package (`make deb`) built from it.
include(GNUInstallDirs)

set(TOLMI_MAINTAINER "The tolmi developers <tolmi@users.noreply.github.com>")

install(TARGETS tolmi RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES res/tolmi.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES res/io.github.tolmi.tolmi.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES res/icons/tolmi.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size 16 24 32 48 256)
    install(FILES res/icons/tolmi-${size}.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps
        RENAME tolmi.png)
endforeach()

# Debian wants manual pages and the changelog compressed, without a time stamp in the gzip
# header so that the package builds reproducibly.
set(TOLMI_PACKAGE_DIR ${CMAKE_BINARY_DIR}/package)
configure_file(cmake/deb/changelog.in ${TOLMI_PACKAGE_DIR}/changelog @ONLY)
function(tolmi_gzip source output)
    add_custom_command(OUTPUT ${output}
        COMMAND gzip -9n -c ${source} > ${output}
        DEPENDS ${source} VERBATIM)
endfunction()
tolmi_gzip(${CMAKE_SOURCE_DIR}/res/man/tolmi.1 ${TOLMI_PACKAGE_DIR}/tolmi.1.gz)
tolmi_gzip(${CMAKE_SOURCE_DIR}/res/man/tolmi.zh_CN.1 ${TOLMI_PACKAGE_DIR}/zh_CN/tolmi.1.gz)
tolmi_gzip(${TOLMI_PACKAGE_DIR}/changelog ${TOLMI_PACKAGE_DIR}/changelog.gz)
file(MAKE_DIRECTORY ${TOLMI_PACKAGE_DIR}/zh_CN)
add_custom_target(tolmi_compressed_docs ALL DEPENDS
    ${TOLMI_PACKAGE_DIR}/tolmi.1.gz ${TOLMI_PACKAGE_DIR}/zh_CN/tolmi.1.gz
    ${TOLMI_PACKAGE_DIR}/changelog.gz)
install(FILES ${TOLMI_PACKAGE_DIR}/tolmi.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${TOLMI_PACKAGE_DIR}/zh_CN/tolmi.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/zh_CN/man1)
install(FILES ${TOLMI_PACKAGE_DIR}/changelog.gz cmake/deb/copyright
    DESTINATION ${CMAKE_INSTALL_DOCDIR})

execute_process(COMMAND dpkg --print-architecture
    OUTPUT_VARIABLE TOLMI_DEB_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
set(TOLMI_DEB_FILE ${CMAKE_BINARY_DIR}/tolmi_${PROJECT_VERSION}_${TOLMI_DEB_ARCH}.deb)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tolmi)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${TOLMI_DEB_ARCH})
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TOLMI_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE https://github.com/tolmi/tolmi)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# A Chinese font for the window's texts; Qt's own translations for its buttons and file choosers.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-wqy-microhei | fonts-noto-cjk, qt6-translations-l10n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION [=[small FTP client with a Chinese interface / 简体中文 FTP 客户端
tolmi is a small desktop FTP client with a Simplified Chinese interface: one
window with the server, login name and password fields, the list of the
remote directory, and Connect, Refresh, Upload, Download and Exit. A
download never replaces an existing local file and leaves no partial file
behind; an upload replaces the remote file only once it is complete.

tolmi 是一个简体中文界面的小型桌面 FTP 客户端：一个窗口里有服务器、登录名和
密码栏，远程目录的文件列表，以及连接、刷新、上传、下载和退出按钮。下载从不
覆盖已有的本地文件，失败时也不留下残缺文件；上传完成后才替换服务器上的文件。]=])
include(CPack)
