# Installation of the program: cmake --install <build> --prefix <folder>, and
# the contents of the Debian package (cmake/Package.cmake), which carries
# every install() rule of the project.
#   <prefix>/bin/reqlark                                      the program
#   <prefix>/lib/.../reqlark/libreqlark_{browser,http}.so     its modules
#   <prefix>/share/applications/reqlark.desktop                the menu entry
#   <prefix>/share/icons/hicolor/<n>x<n>/apps/reqlark.png      its icon, six sizes
#   <prefix>/share/metainfo/<id>.metainfo.xml                  software-centre data
#   <prefix>/share/doc/reqlark/copyright                       copyright and licence
# An installed copy keeps its settings in the user's configuration folder,
# not beside the executable (settings/ConfigLocation.h). For a prefix other
# than the one it was built for and outside the system folders, the menu
# entry in <prefix>/share/applications is what marks it as installed.
install(TARGETS reqlark RUNTIME DESTINATION bin)

# The icon at the sizes icon themes look for, scaled from the one picture at
# build time so that a new picture needs no further steps.
set(REQLARK_ICON_SIZES 16 32 48 64 128 256)
add_executable(reqlark_iconsizes resources/icons/IconSizes.cpp)
target_link_libraries(reqlark_iconsizes PRIVATE Qt6::Gui)
set(icon_files)
foreach(size IN LISTS REQLARK_ICON_SIZES)
    list(APPEND icon_files ${CMAKE_BINARY_DIR}/icons/hicolor/${size}x${size}/apps/reqlark.png)
endforeach()
add_custom_command(OUTPUT ${icon_files}
    COMMAND reqlark_iconsizes ${CMAKE_SOURCE_DIR}/resources/images/reqlark.png
            ${CMAKE_BINARY_DIR}/icons reqlark ${REQLARK_ICON_SIZES}
    DEPENDS reqlark_iconsizes ${CMAKE_SOURCE_DIR}/resources/images/reqlark.png
    COMMENT "Scaling the icon to ${REQLARK_ICON_SIZES}"
    VERBATIM)
add_custom_target(reqlark_icons ALL DEPENDS ${icon_files})
install(DIRECTORY ${CMAKE_BINARY_DIR}/icons/hicolor DESTINATION share/icons)

# Software-centre data: the component id is reverse-DNS, the menu entry keeps
# its short name, which is also the window class the desktop matches.
set(REQLARK_APPSTREAM_ID org.reqlark.Reqlark)
# The date honours SOURCE_DATE_EPOCH (scripts/package.sh sets it from the
# last commit), so that a rebuild of the same source gives the same file.
string(TIMESTAMP REQLARK_RELEASE_DATE "%Y-%m-%d" UTC)
configure_file(${CMAKE_SOURCE_DIR}/resources/reqlark.metainfo.xml.in
               ${CMAKE_BINARY_DIR}/${REQLARK_APPSTREAM_ID}.metainfo.xml @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/${REQLARK_APPSTREAM_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${CMAKE_SOURCE_DIR}/resources/copyright DESTINATION share/doc/reqlark)

# The modules: the browser, loaded on the first page view, and the HTTP
# components, loaded by the first request; the program finds them from bin/
# at the same relative place (util/ProgramModule.h).
install(TARGETS reqlark_browser reqlark_http LIBRARY DESTINATION ${REQLARK_MODULE_DIR})

# The menu entry names the installed program by its full path, since
# <prefix>/bin need not be on the PATH of the desktop session. The prefix is
# the one given to cmake --install, known only when it runs.
install(CODE "set(REQLARK_DESKTOP_SOURCE [==[${CMAKE_SOURCE_DIR}/resources/reqlark.desktop]==])")
install(CODE [==[
    set(exec_path "${CMAKE_INSTALL_PREFIX}/bin/reqlark")
    # Quoting as the desktop entry format wants it: inside double quotes a
    # backslash, quote, backquote or dollar is escaped, and that backslash is
    # doubled again by the string escapes; a percent sign is doubled.
    if(exec_path MATCHES "[] \t\"'\\\\><~|&;$*?#()`[]")
        string(REPLACE "\\" "\\\\\\\\" exec_path "${exec_path}")
        string(REPLACE "\"" "\\\\\"" exec_path "${exec_path}")
        string(REPLACE "`" "\\\\`" exec_path "${exec_path}")
        string(REPLACE "$" "\\\\$" exec_path "${exec_path}")
        set(exec_path "\"${exec_path}\"")
    endif()
    string(REPLACE "%" "%%" exec_path "${exec_path}")
    file(READ "${REQLARK_DESKTOP_SOURCE}" entry)
    # Plain string surgery: a regex replacement would read backslashes in the path.
    string(FIND "${entry}" "\nExec=" at)
    math(EXPR value_at "${at} + 6")
    string(SUBSTRING "${entry}" 0 ${value_at} head)
    string(SUBSTRING "${entry}" ${value_at} -1 rest)
    string(FIND "${rest}" "\n" line_end)
    string(SUBSTRING "${rest}" ${line_end} -1 rest)
    set(entry "${head}${exec_path}${rest}")
    set(target_dir "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/share/applications")
    message(STATUS "Installing: ${target_dir}/reqlark.desktop")
    file(MAKE_DIRECTORY "${target_dir}")
    file(WRITE "${target_dir}/reqlark.desktop" "${entry}")
]==])
