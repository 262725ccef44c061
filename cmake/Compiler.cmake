# Warnings are errors on every build; sanitizer builds add their instrumentation everywhere.
add_compile_options(-Wall -Wextra -Werror -Wshadow -Wno-missing-field-initializers)

if(WIN32)
  # The Windows build is defined for the system headers' API set of Windows 10 and later.
  add_compile_definitions(_WIN32_WINNT=0x0A00 WINVER=0x0A00 NTDDI_VERSION=0x0A000000
                          UNICODE _UNICODE)
  # Everything from the toolchain is linked in, so the DLLs import only system DLLs.
  add_link_options(-static -static-libgcc -static-libstdc++)
else()
  set(CMAKE_BUILD_RPATH_USE_ORIGIN ON)
  set(CMAKE_BUILD_RPATH "$ORIGIN/../lib;$ORIGIN")
endif()

if(NV_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
elseif(NV_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(NOT NV_SANITIZE STREQUAL "")
  message(FATAL_ERROR "NV_SANITIZE must be empty, 'address' or 'thread'")
endif()
