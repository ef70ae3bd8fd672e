# Strict warnings for our own targets only (never for third-party headers).
function(kelvor_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Werror)
endfunction()
