# The libraries talvo is built on, as imported targets. Read by the build and by the installed
# package, so that each machine finds them where they live on it.
find_package(TBB REQUIRED)
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)

# The answer-set solver's C library (clingo) ships no CMake package and no header.
if(NOT TARGET talvo::clingo)
  find_library(TALVO_CLINGO_LIBRARY NAMES clingo REQUIRED)
  add_library(talvo::clingo UNKNOWN IMPORTED)
  set_target_properties(talvo::clingo PROPERTIES IMPORTED_LOCATION "${TALVO_CLINGO_LIBRARY}")
endif()
