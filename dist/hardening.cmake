# Debian's hardening flags for every target: the stack protector, fortified
# libc calls, format checks, a read-only GOT (relro with BIND_NOW), and what
# else dpkg-buildflags gives with hardening=+all. The flags are asked of
# dpkg-buildflags itself, so the packaged program is built as Debian builds
# its own; DEB_BUILD_MAINT_OPTIONS and DEB_*FLAGS_APPEND in the environment
# are honoured as a Debian build would honour them.
#
# Left out: -g and -O (the build type decides them) and -ffile-prefix-map
# (it names the folder dpkg-buildflags ran in, which would differ between
# checkouts and defeat a shared compiler cache).
option(BREVAN_HARDENING "Build with the hardening flags of dpkg-buildflags" ON)

find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(NOT BREVAN_HARDENING OR NOT DPKG_BUILDFLAGS)
  return()
endif()
if(BREVAN_SANITIZE OR BREVAN_FUZZ)
  # Fortified libc calls go round the sanitizers' own checks.
  message(STATUS "Hardening flags left out of the sanitizer build")
  return()
endif()

set(_brevan_maint "$ENV{DEB_BUILD_MAINT_OPTIONS}")
if(_brevan_maint STREQUAL "")
  set(_brevan_maint "hardening=+all")
endif()

function(brevan_buildflags var out)
  execute_process(
    COMMAND ${CMAKE_COMMAND} -E env "DEB_BUILD_MAINT_OPTIONS=${_brevan_maint}" ${DPKG_BUILDFLAGS} --get ${var}
    OUTPUT_VARIABLE flags
    OUTPUT_STRIP_TRAILING_WHITESPACE
    RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "dpkg-buildflags --get ${var} failed")
  endif()
  separate_arguments(flags UNIX_COMMAND "${flags}")
  list(FILTER flags EXCLUDE REGEX "^-(g|O)")
  list(FILTER flags EXCLUDE REGEX "^-f(file|debug|macro)-prefix-map=")
  set(${out} ${flags} PARENT_SCOPE)
endfunction()

brevan_buildflags(CPPFLAGS _brevan_cppflags)
brevan_buildflags(CFLAGS _brevan_cflags)
brevan_buildflags(CXXFLAGS _brevan_cxxflags)
brevan_buildflags(LDFLAGS _brevan_ldflags)

# glibc's fortified calls need the optimiser; without it every file would
# warn that _FORTIFY_SOURCE does nothing.
foreach(flag IN LISTS _brevan_cppflags)
  if(flag MATCHES "^-D_FORTIFY_SOURCE")
    add_compile_options("$<$<NOT:$<CONFIG:Debug>>:${flag}>")
  else()
    add_compile_options("${flag}")
  endif()
endforeach()
foreach(flag IN LISTS _brevan_cflags)
  add_compile_options("$<$<COMPILE_LANGUAGE:C>:${flag}>")
endforeach()
foreach(flag IN LISTS _brevan_cxxflags)
  add_compile_options("$<$<COMPILE_LANGUAGE:CXX>:${flag}>")
endforeach()
add_link_options(${_brevan_ldflags})
message(STATUS "Hardening: ${_brevan_cppflags} ${_brevan_cxxflags} ${_brevan_ldflags}")
