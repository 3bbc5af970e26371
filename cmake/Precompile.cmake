# Precompiled headers for targets whose sources all parse the same heavy
# headers: Qt's take about 3 s per source, GoogleTest's about 2 s; a target
# parses them once. The compiler cache stores them with the sloppiness
# scripts/build.sh sets; clang needs the header's time left out of it.
function(qm_precompile target)
  target_precompile_headers(${target} PRIVATE ${ARGN})
  qm_pch_options(${target})
endfunction()

# The header of another target compiled with the same flags: one is made.
function(qm_precompile_like target from)
  target_precompile_headers(${target} REUSE_FROM ${from})
  qm_pch_options(${target})
endfunction()

function(qm_pch_options target)
  if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    target_compile_options(${target} PRIVATE "SHELL:-Xclang -fno-pch-timestamp")
  endif()
endfunction()
