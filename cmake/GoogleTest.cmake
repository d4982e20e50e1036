# GoogleTest for the unit tests. On Linux: the system's (libgtest-dev). On
# Windows: an installed one when find_package finds it (it must link the C
# runtime statically, as the programs do), otherwise a pinned release that
# CMake downloads and checks against its hash.
if(NOT CMAKE_HOST_WIN32)
  find_package(GTest REQUIRED)
else()
  find_package(GTest QUIET)
  if(NOT GTest_FOUND)
    include(FetchContent)
    FetchContent_Declare(googletest
      URL https://github.com/google/googletest/archive/refs/tags/v1.14.0.tar.gz
      URL_HASH SHA256=8ad598c73ad796e0d8280b082cebd82a630d73e73cd3c70057938a6501bba5d7
      DOWNLOAD_EXTRACT_TIMESTAMP TRUE)
    # GoogleTest's own CMake files predate CMAKE_MSVC_RUNTIME_LIBRARY: let it
    # take the static runtime set above instead of its default.
    set(CMAKE_POLICY_DEFAULT_CMP0091 NEW)
    set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
    FetchContent_MakeAvailable(googletest)
  endif()
endif()
include(GoogleTest)
