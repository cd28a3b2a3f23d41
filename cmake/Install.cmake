# Installation of the program (cmake --install build --prefix <folder>).
install(TARGETS reqlark RUNTIME DESTINATION bin)
