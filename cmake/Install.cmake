# Installation of the program: cmake --install <build> --prefix <folder>.
#   <prefix>/bin/reqlark                                   the program
#   <prefix>/share/applications/reqlark.desktop             the menu entry
#   <prefix>/share/icons/hicolor/128x128/apps/reqlark.png   its icon
# The program keeps its settings and header list beside the executable, so a
# prefix the user can write to keeps them; elsewhere it runs and reports the
# failed write when it closes.
install(TARGETS reqlark RUNTIME DESTINATION bin)
# The browser module, loaded on the first page view; the program finds it
# from bin/ at the same relative place (results/BrowserModule.cpp).
install(TARGETS reqlark_browser LIBRARY DESTINATION ${REQLARK_BROWSER_MODULE_DIR})
install(FILES ${CMAKE_SOURCE_DIR}/resources/images/reqlark.png
        DESTINATION share/icons/hicolor/128x128/apps)

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
