# Compiler warnings for every target; QM_WERROR turns them into errors (the
# test command builds with it). Qt, GoogleTest and the other libraries come
# in as system includes, so only our own code is held to these.
option(QM_WERROR "Treat compiler warnings as errors" OFF)

add_compile_options(
  -Wall -Wextra -Wshadow -Wconversion
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
  $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast>)
if(CMAKE_CXX_COMPILER_ID MATCHES "Clang")
  # clang's -Wconversion also brings in -Wsign-conversion, which gcc leaves
  # out; keep both compilers to the same set.
  add_compile_options(-Wno-sign-conversion)
endif()
if(QM_WERROR)
  add_compile_options(-Werror)
endif()
