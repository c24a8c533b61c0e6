# Compile options shared by every target of this project.
#
# -ffp-contract=off: the kernels are compared bit for bit against references
# and against each other between builds; a fused multiply-add changes the
# rounding of a*b+c, so no build may contract.
function(tvx_target_options target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -ffp-contract=off)
  if(TVX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
endfunction()

if(TVX_SANITIZE)
  # -fno-sanitize-recover: a report must fail the test that triggered it,
  # not scroll past in the log of a passing run.
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
  # The library's debug assertions (tvx/internal/CtvxDebugAssert.h) run
  # where the sanitizers do.
  add_compile_definitions(TVX_DEBUG_ASSERTS)
endif()

if(TVX_SANITIZE_THREAD)
  # ThreadSanitizer for the threaded code (the batch engine and its tests);
  # it cannot be combined with AddressSanitizer, hence an option of its own.
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
endif()

if(TVX_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "TVX_FUZZ needs clang's libFuzzer: configure with CXX=clang++")
  endif()
  # Coverage counters in every object, the libraries' included, so that the
  # fuzzer learns from the paths it opens in them; the fuzz programs link
  # libFuzzer itself (tests/fuzz).
  add_compile_options(-fsanitize=fuzzer-no-link)
  add_link_options(-fsanitize=fuzzer-no-link)
endif()
