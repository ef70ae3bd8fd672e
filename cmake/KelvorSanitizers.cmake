# KELVOR_SANITIZE=address : AddressSanitizer + UndefinedBehaviorSanitizer
# KELVOR_SANITIZE=thread  : ThreadSanitizer
if(KELVOR_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(KELVOR_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT KELVOR_SANITIZE STREQUAL "")
  message(FATAL_ERROR "KELVOR_SANITIZE must be empty, 'address' or 'thread'")
endif()
