# Optimised Linux builds get the hardening that Debian's dpkg-buildflags gives
# (hardening=+all): fortified libc calls, a strong stack protector, format
# checks, PIE, full RELRO and immediate binding; plus stack-clash and
# control-flow protection where the compiler has them, which newer dpkg adds
# and hardening-check asks for. Debug and sanitizer builds are left alone:
# fortification needs optimisation and gets in ASan's way.
option(TD_HARDEN "Harden optimised Linux builds as Debian does" ON)
if(TD_HARDEN AND CMAKE_SYSTEM_NAME STREQUAL "Linux" AND NOT TD_SANITIZE)
  set(CMAKE_POSITION_INDEPENDENT_CODE ON)
  include(CheckPIESupported)
  check_pie_supported()
  include(CheckCXXCompilerFlag)
  set(td_harden_flags -U_FORTIFY_SOURCE -D_FORTIFY_SOURCE=2 -fstack-protector-strong
                      -Wformat -Werror=format-security)
  foreach(flag -fstack-clash-protection -fcf-protection)
    string(MAKE_C_IDENTIFIER "TD_HAS${flag}" var)
    check_cxx_compiler_flag(${flag} ${var})
    if(${var})
      list(APPEND td_harden_flags ${flag})
    endif()
  endforeach()
  set(td_optimised "$<NOT:$<CONFIG:Debug>>")
  add_compile_options("$<${td_optimised}:${td_harden_flags}>")
  add_link_options("$<${td_optimised}:LINKER:-z,relro;LINKER:-z,now>")
endif()
