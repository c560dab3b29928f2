# SENTREL_SANITIZE: empty, "address,undefined" or "thread".
set(SENTREL_SANITIZE "" CACHE STRING "Sanitizers to build with")
if(SENTREL_SANITIZE)
  add_compile_options(-fsanitize=${SENTREL_SANITIZE} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_link_options(-fsanitize=${SENTREL_SANITIZE})
endif()
