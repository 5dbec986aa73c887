# CMake toolchain file for building Kaldoria (and the libraries it needs) for
# 64-bit Windows with Debian's mingw-w64 compilers.
#
#   cmake -S . -B build-windows -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake \
#         -DKALDORIA_WINDOWS_PREFIX=$(scripts/windows/toolchain.sh --print-prefix)
#
# KALDORIA_WINDOWS_PREFIX is the installed prefix of the cached cross-built
# libraries (Qt, SQLite, libpq, OpenSSL, ICU); it may also come from the
# environment variable of the same name.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KALDORIA_MINGW_TRIPLE x86_64-w64-mingw32)
# The -posix variants: the win32-threads ones have no std::thread or std::mutex.
set(CMAKE_C_COMPILER ${KALDORIA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KALDORIA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KALDORIA_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KALDORIA_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KALDORIA_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

if(NOT KALDORIA_WINDOWS_PREFIX AND DEFINED ENV{KALDORIA_WINDOWS_PREFIX})
  set(KALDORIA_WINDOWS_PREFIX "$ENV{KALDORIA_WINDOWS_PREFIX}")
endif()
# try_compile projects read this file again; hand them the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES KALDORIA_WINDOWS_PREFIX)

# Look for libraries, headers and CMake packages only in the Windows trees,
# never in the host's /usr; programs (moc, rcc, pkg-config) come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${KALDORIA_MINGW_TRIPLE})
if(KALDORIA_WINDOWS_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH "${KALDORIA_WINDOWS_PREFIX}")
  list(APPEND CMAKE_PREFIX_PATH "${KALDORIA_WINDOWS_PREFIX}")
  # pkg-config sees the prefix's .pc files only, not the host's.
  set(ENV{PKG_CONFIG_LIBDIR} "${KALDORIA_WINDOWS_PREFIX}/lib/pkgconfig")
  set(ENV{PKG_CONFIG_PATH} "")
endif()
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Qt's build-time tools (moc, rcc, uic) run on the host: Debian's own Qt of
# the same version supplies them.
set(QT_HOST_PATH /usr CACHE PATH "")
set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake CACHE PATH "")
