# The Windows build: datacollector.dll and the unit tests, cross-built with a
# mingw-w64 toolchain file (mingw-w64-x86_64.cmake, mingw-w64-i686.cmake).
# The unit tests run under the toolchain's CMAKE_CROSSCOMPILING_EMULATOR
# (Wine) where it names one.

# The JDK's platform-neutral jni.h and jvmti.h, with our own Windows jni_md.h
# (src/platform/win32) in place of the JDK's machine-dependent one.
find_path(DC_JDK_INCLUDE jni.h PATHS "$ENV{JAVA_HOME}/include" NO_DEFAULT_PATH
          NO_CMAKE_FIND_ROOT_PATH)
if(NOT DC_JDK_INCLUDE)
  message(FATAL_ERROR "jni.h not found: set JAVA_HOME to a JDK")
endif()
set(DC_JNI_INCLUDE_DIRS ${CMAKE_SOURCE_DIR}/src/platform/win32 ${DC_JDK_INCLUDE})

# Windows 7 and later: the socket and time calls os_windows.cpp uses.
add_compile_definitions(_WIN32_WINNT=0x0601 WINVER=0x0601)
# The C++ runtime, libgcc and the thread library are linked in statically, so
# the DLL and the tests need nothing beside the system DLLs.
add_link_options(-static -static-libgcc -static-libstdc++)

file(GLOB_RECURSE DC_SOURCES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/src/*.cpp)
list(FILTER DC_SOURCES EXCLUDE REGEX "/os_linux\\.cpp$")
add_library(dc_objects OBJECT ${DC_SOURCES})
target_include_directories(dc_objects PUBLIC ${CMAKE_SOURCE_DIR}/src ${DC_JNI_INCLUDE_DIRS})
set(DC_SYSTEM_LIBRARIES ws2_32 pdh advapi32)

# The DLL exports JVM_OnLoad, Agent_OnLoad and every JNI native (JNIEXPORT).
# The 32-bit __stdcall entries are exported under both names a Windows JVM
# looks up: decorated "_Name@N" and plain "Name". A .def file made from the
# objects' own export list adds them.
add_library(datacollector SHARED $<TARGET_OBJECTS:dc_objects>)
set_target_properties(datacollector PROPERTIES PREFIX "" OUTPUT_NAME datacollector
                                               RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR})
target_link_libraries(datacollector PRIVATE ${DC_SYSTEM_LIBRARIES})
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(DC_DEF ${CMAKE_BINARY_DIR}/datacollector.def)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/dc_objects.txt
       CONTENT "$<JOIN:$<TARGET_OBJECTS:dc_objects>,\n>\n")
  add_custom_command(
    OUTPUT ${DC_DEF}
    COMMAND ${CMAKE_COMMAND} -DNM=${CMAKE_NM} -DOUT=${DC_DEF}
            -DOBJECTS=${CMAKE_BINARY_DIR}/dc_objects.txt -P ${CMAKE_SOURCE_DIR}/cmake/stdcall-def.cmake
    DEPENDS $<TARGET_OBJECTS:dc_objects> ${CMAKE_SOURCE_DIR}/cmake/stdcall-def.cmake
    VERBATIM)
  add_custom_target(datacollector_def DEPENDS ${DC_DEF})
  add_dependencies(datacollector_def dc_objects)
  add_dependencies(datacollector datacollector_def)
  target_link_options(datacollector PRIVATE ${DC_DEF})
  set_property(TARGET datacollector APPEND PROPERTY LINK_DEPENDS ${DC_DEF})
endif()

add_library(dc_static STATIC $<TARGET_OBJECTS:dc_objects>)
target_include_directories(dc_static PUBLIC ${CMAKE_SOURCE_DIR}/src ${DC_JNI_INCLUDE_DIRS})
target_link_libraries(dc_static PUBLIC ${DC_SYSTEM_LIBRARIES})

enable_testing()

# --- unit tests ------------------------------------------------------------
# GoogleTest from its sources (Debian's googletest), built with this toolchain.
set(DC_GTEST_SOURCE /usr/src/googletest CACHE PATH "GoogleTest sources")
set(BUILD_GMOCK OFF CACHE BOOL "" FORCE)
set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
add_subdirectory(${DC_GTEST_SOURCE} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)

file(GLOB DC_UNIT_TESTS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/tests/unit/*.cpp
     ${CMAKE_SOURCE_DIR}/tests/unit/support/*.cpp ${CMAKE_SOURCE_DIR}/tests/unit/windows/*.cpp)
# Built for both widths; the 32-bit tests build but only run where a 32-bit
# Wine is available.
add_executable(unit_tests ${DC_UNIT_TESTS})
target_include_directories(unit_tests PRIVATE ${CMAKE_SOURCE_DIR}/tests/unit)
target_link_libraries(unit_tests PRIVATE dc_static gtest gtest_main)

# The suite runs as two shards side by side: every Wine process start costs
# time, so each shard is one process rather than one per test.
if(CMAKE_CROSSCOMPILING_EMULATOR)
  foreach(shard 0 1)
    add_test(NAME unit_tests.shard${shard} COMMAND unit_tests --gtest_brief=1)
    set_tests_properties(unit_tests.shard${shard} PROPERTIES
      LABELS "unit;wine" TIMEOUT 900
      ENVIRONMENT "GTEST_TOTAL_SHARDS=2;GTEST_SHARD_INDEX=${shard}")
  endforeach()
endif()

# The DLL's exports against the natives the Linux library exports.
set(DC_LINUX_LIBRARY ${CMAKE_SOURCE_DIR}/build/libdatacollector.so
    CACHE FILEPATH "The Linux library whose exported natives the DLL must match")
find_package(Python3 COMPONENTS Interpreter)
if(Python3_FOUND)
  add_test(NAME dll_exports
           COMMAND ${Python3_EXECUTABLE} ${CMAKE_SOURCE_DIR}/tests/windows/check_dll.py
                   --objdump ${CMAKE_OBJDUMP} --dll $<TARGET_FILE:datacollector>
                   --linux ${DC_LINUX_LIBRARY})
  set_tests_properties(dll_exports PROPERTIES LABELS exports SKIP_RETURN_CODE 77)
endif()
