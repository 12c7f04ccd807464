# tarnwick.exe for 64-bit Windows: the core, the Win32 backend
# (src/platform/windows) and the resources, linked statically so that the
# program imports nothing but system DLLs. ON.gif and OFF.gif go beside it.
enable_language(RC)

add_compile_definitions(UNICODE _UNICODE WIN32_LEAN_AND_MEAN NOMINMAX
                        _WIN32_WINNT=0x0A00 WINVER=0x0A00)
# -O2, not -O3: GCC 12 warns falsely (-Wrestrict) about std::string at -O3.
set(CMAKE_CXX_FLAGS_RELEASE "-O2 -DNDEBUG")
add_link_options(-static -static-libgcc -static-libstdc++ $<$<CONFIG:Release,MinSizeRel>:-s>)

set(src ${PROJECT_SOURCE_DIR}/src)

file(GLOB core_sources CONFIGURE_DEPENDS
  ${src}/shell/*.cpp ${src}/link/*.cpp ${src}/config/*.cpp ${src}/persist/*.cpp
  ${src}/platform/*.cpp)
add_library(tarnwick_core STATIC ${core_sources})
target_include_directories(tarnwick_core PUBLIC ${src})
target_compile_definitions(tarnwick_core PUBLIC
  TARNWICK_VERSION_MAJOR=${PROJECT_VERSION_MAJOR}
  TARNWICK_VERSION_MINOR=${PROJECT_VERSION_MINOR}
  TARNWICK_COMPANY="${TARNWICK_COMPANY}"
  TARNWICK_PRODUCT="${TARNWICK_PRODUCT}")

# The backend: every file in src/platform/windows.
file(GLOB windows_sources CONFIGURE_DEPENDS ${src}/platform/windows/*.cpp)
add_library(tarnwick_windows STATIC ${windows_sources})
target_link_libraries(tarnwick_windows PUBLIC tarnwick_core
  user32 gdi32 comctl32 comdlg32 ole32 oleaut32 uuid advapi32 shlwapi)
# The core calls the backend through the platform interfaces and the backend
# calls back into the core's fault and toolkit helpers: a cycle the linker
# resolves by seeing both twice.
target_link_libraries(tarnwick_core PUBLIC tarnwick_windows)

configure_file(${src}/platform/windows/tarnwick.rc.in ${CMAKE_BINARY_DIR}/tarnwick.rc @ONLY)
add_executable(tarnwick WIN32 ${src}/main.cpp ${CMAKE_BINARY_DIR}/tarnwick.rc)
target_link_libraries(tarnwick PRIVATE tarnwick_core tarnwick_windows)
set_target_properties(tarnwick PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
# The resource script names the manifest and the icon by these folders.
set_property(SOURCE ${CMAKE_BINARY_DIR}/tarnwick.rc APPEND PROPERTY OBJECT_DEPENDS
  ${src}/platform/windows/tarnwick.manifest ${PROJECT_SOURCE_DIR}/assets/tarnwick.ico)

foreach(pic ON.gif OFF.gif)
  configure_file(${PROJECT_SOURCE_DIR}/assets/${pic} ${CMAKE_BINARY_DIR}/${pic} COPYONLY)
endforeach()
