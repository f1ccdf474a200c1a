# Warnings and sanitizers for every target of the project (the library, tests, tools).
add_compile_options(-Wall -Wextra -Wpedantic)
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
  # GCC 12 reports impossible overlaps in inlined std::string concatenation (GCC bug 105329).
  add_compile_options(-Wno-restrict)
endif()
if(KESTREL_WERROR)
  add_compile_options(-Werror)
endif()

if(KESTREL_SANITIZE)
  string(REPLACE "," ";" _kestrel_sanitizers "${KESTREL_SANITIZE}")
  foreach(_san IN LISTS _kestrel_sanitizers)
    if(NOT _san MATCHES "^(address|undefined|thread|fuzzer-no-link)$")
      message(FATAL_ERROR "KESTREL_SANITIZE: unknown sanitizer '${_san}'")
    endif()
  endforeach()
  add_compile_options(-fsanitize=${KESTREL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${KESTREL_SANITIZE})
  if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
    # The sanitizers' instrumentation hides initialisation from GCC's flow analysis, which then
    # reports std::variant and std::optional members as maybe uninitialised.
    add_compile_options(-Wno-maybe-uninitialized)
  endif()
endif()

find_program(KESTREL_CCACHE ccache)
if(KESTREL_CCACHE)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${KESTREL_CCACHE})
endif()
