# Compiler warnings as one interface target, qm_warnings; QM_WERROR turns
# them into errors (the test command builds with it). Every target links it
# through qm_platform, which every library and executable here links. Qt,
# GoogleTest and the other libraries come in as system includes, so only our
# own code is held to these.
option(QM_WERROR "Treat compiler warnings as errors" OFF)

add_library(qm_warnings INTERFACE)
target_compile_options(qm_warnings INTERFACE
  -Wall -Wextra -Wshadow -Wconversion
  $<$<COMPILE_LANGUAGE:CXX>:-Wnon-virtual-dtor>
  $<$<COMPILE_LANGUAGE:CXX>:-Wold-style-cast>
  # clang's -Wconversion also brings in -Wsign-conversion, which gcc leaves
  # out; keep both compilers to the same set.
  $<$<CXX_COMPILER_ID:Clang>:-Wno-sign-conversion>
  $<$<BOOL:${QM_WERROR}>:-Werror>)
