# Cross toolchain for x86_64 Windows (mingw-w64). The win32 thread model keeps
# winpthreads out of the programs: its imports (GetTickCount64,
# AddVectoredExceptionHandler) stop them on Windows 2000, XP and Server 2003.
# libstdc++ then has no std::thread or std::mutex; code uses Win32 threads and
# critical sections. Everything links statically.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-win32)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-win32)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
