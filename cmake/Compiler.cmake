# Warnings are errors on every build; sanitizer builds add their instrumentation everywhere.
add_compile_options(-Wall -Wextra -Werror -Wshadow -Wno-missing-field-initializers)

if(WIN32)
  # The oldest Windows whose API a target is compiled for: the system headers then declare
  # nothing newer, so that a call into a later Windows fails to compile instead of keeping the
  # binary from loading there. A later function is looked up at run time (platform/late_api.h).
  # Windows 2000 (0x0500) unless the target names another release with nv_windows_minimum.
  set(nv_winver "$<IF:$<BOOL:$<TARGET_PROPERTY:NV_WINDOWS_MINIMUM>>,$<TARGET_PROPERTY:NV_WINDOWS_MINIMUM>,0x0500>")
  add_compile_definitions(_WIN32_WINNT=${nv_winver} WINVER=${nv_winver}
                          NTDDI_VERSION=${nv_winver}0000 UNICODE _UNICODE)
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

# nv_windows_minimum(TARGET VERSION): TARGET is compiled for the API of that Windows release
# (0x0501 Windows XP, 0x0A00 Windows 10) instead of Windows 2000. No-op outside Windows.
function(nv_windows_minimum target version)
  if(WIN32)
    set_property(TARGET ${target} PROPERTY NV_WINDOWS_MINIMUM ${version})
  endif()
endfunction()
