# quenbell_warnings(target): the project's warning set, private to the target.
function(quenbell_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wno-missing-field-initializers)
endfunction()
