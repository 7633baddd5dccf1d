# Applies QUENBELL_SANITIZE to everything built below, plug-ins included, so that
# a sanitized test process loads sanitized libraries only.
if(QUENBELL_SANITIZE)
  string(REPLACE ";" "," _qb_san "${QUENBELL_SANITIZE}")
  add_compile_options(-fsanitize=${_qb_san} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${_qb_san})
  if("undefined" IN_LIST QUENBELL_SANITIZE)
    add_compile_options(-fno-sanitize-recover=undefined)
  endif()
endif()
