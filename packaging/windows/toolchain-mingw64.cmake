# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (the POSIX
# threads flavour, which Qt's own build uses too).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TAVIX_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TAVIX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TAVIX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TAVIX_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${TAVIX_MINGW_PREFIX})
# Libraries and headers only from the target's folders and the Qt prefix
# handed in; host programs (Qt's moc, uic and rcc) from the host.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The Qt built for Windows by build-qt.sh (make windows passes it in).
if(TAVIX_QT_PREFIX)
    list(APPEND CMAKE_FIND_ROOT_PATH ${TAVIX_QT_PREFIX})
endif()
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TAVIX_QT_PREFIX)

