# Plain builds on Debian compile and link with the hardening flags Debian
# builds its own packages with (stack protector, fortified libc calls, read-only
# relocations, immediate binding), asked of dpkg-buildflags so they follow the
# system. Optimisation, debug information and path mapping stay with the build
# type. The sanitizer build does without: fortified calls get in ASan's way.
# Cross builds for Windows take none of them: they are flags for Linux's linker.
find_program(DPKG_BUILDFLAGS dpkg-buildflags)
if(DPKG_BUILDFLAGS AND NOT TARNWICK_SANITIZE AND NOT WIN32)
  set(ENV{DEB_BUILD_MAINT_OPTIONS} "hardening=+all reproducible=-fixfilepath,-fixdebugpath")
  set(ENV{DEB_CFLAGS_MAINT_STRIP} "-g -O2")
  set(ENV{DEB_CXXFLAGS_MAINT_STRIP} "-g -O2")
  foreach(kind CPPFLAGS CXXFLAGS LDFLAGS)
    execute_process(COMMAND ${DPKG_BUILDFLAGS} --get ${kind}
                    OUTPUT_VARIABLE flags OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
    separate_arguments(deb_${kind} UNIX_COMMAND "${flags}")
  endforeach()
  # _FORTIFY_SOURCE needs optimisation; unoptimised it is only a warning, an
  # error here.
  list(TRANSFORM deb_CPPFLAGS REPLACE "^(-D_FORTIFY_SOURCE=.*)$" "$<$<NOT:$<CONFIG:Debug>>:\\1>")
  add_compile_options(${deb_CPPFLAGS} ${deb_CXXFLAGS})
  add_link_options(${deb_LDFLAGS})
  unset(ENV{DEB_BUILD_MAINT_OPTIONS})
  unset(ENV{DEB_CFLAGS_MAINT_STRIP})
  unset(ENV{DEB_CXXFLAGS_MAINT_STRIP})
endif()
