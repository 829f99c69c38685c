# Helpers that keep every library, suite, benchmark and fuzz target to one line.

# vd_add_library(<target> [DEPS <targets...>] [EXCLUDE <paths...>])
# Compiles every .cpp below the calling folder (but not below a subfolder with a CMakeLists.txt of its own) into a
# static library; the folder is its include path. EXCLUDE names files or subfolders (relative to the folder, a
# folder ending in "/") that are not compiled in. Headers of an internal/ subfolder (the library's own helpers and
# its test seams) are on the library's private include path and on that of <target>_internal, which test suites
# link; dependents do not see them.
function(vd_add_library target)
    cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
    # A subfolder with a CMakeLists.txt of its own is another target.
    file(GLOB_RECURSE nested CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*/CMakeLists.txt")
    foreach(list IN LISTS nested)
        get_filename_component(folder "${list}" DIRECTORY)
        list(FILTER sources EXCLUDE REGEX "^${folder}/")
    endforeach()
    set(internal "${CMAKE_CURRENT_SOURCE_DIR}/internal")
    foreach(excluded IN LISTS ARG_EXCLUDE)
        set(kept "")
        foreach(source IN LISTS sources)
            file(RELATIVE_PATH relative "${CMAKE_CURRENT_SOURCE_DIR}" "${source}")
            string(FIND "${relative}" "${excluded}" at)
            if(NOT at EQUAL 0 OR (NOT excluded MATCHES "/$" AND NOT relative STREQUAL excluded))
                list(APPEND kept "${source}")
            endif()
        endforeach()
        set(sources ${kept})
    endforeach()
    if(NOT sources)
        # Header-only so far.
        add_library(${target} INTERFACE)
        target_include_directories(${target} INTERFACE "${CMAKE_CURRENT_SOURCE_DIR}")
        target_link_libraries(${target} INTERFACE ${ARG_DEPS} Threads::Threads)
        return()
    endif()
    add_library(${target} STATIC ${sources})
    target_include_directories(${target} PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}")
    target_link_libraries(${target} PUBLIC ${ARG_DEPS} Threads::Threads)
    if(IS_DIRECTORY "${internal}")
        target_include_directories(${target} PRIVATE "${internal}")
        add_library(${target}_internal INTERFACE)
        target_include_directories(${target}_internal INTERFACE "${internal}")
        target_link_libraries(${target}_internal INTERFACE ${target})
    endif()
endfunction()

# Discovered tests get their labels from a script that ctest includes after discovery: a label list
# cannot pass through gtest_discover_tests' PROPERTIES intact.
# RUN_SERIAL runs each test of the target while no other test runs; TIMEOUT replaces the time limit given at
# discovery.
function(vd_label_discovered_tests target labels)
    cmake_parse_arguments(ARG "RUN_SERIAL" "TIMEOUT" "" ${ARGN})
    set(properties "LABELS \"${labels}\"")
    if(ARG_RUN_SERIAL)
        string(APPEND properties " RUN_SERIAL TRUE")
    endif()
    if(ARG_TIMEOUT)
        string(APPEND properties " TIMEOUT ${ARG_TIMEOUT}")
    endif()
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake")
    file(WRITE "${script}"
        "foreach(t IN LISTS ${target}_TESTS)\n"
        "    set_tests_properties(\"\${t}\" PROPERTIES ${properties})\n"
        "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()

# A suite compiles with the precompiled test-framework headers of vdtest_pch (same compiler, flags and code model);
# -Winvalid-pch turns a header the compiler cannot use into a warning instead of a silent slow build.
function(vd_use_test_pch target)
    if(TARGET vdtest_pch)
        target_precompile_headers(${target} REUSE_FROM vdtest_pch)
        target_compile_options(${target} PRIVATE -Winvalid-pch)
    endif()
endfunction()

# vd_add_suite(<label> <file> [TSAN] [RUN_SERIAL] [LIBS <targets...>] [PROGRAM <target>] [TIMEOUT <seconds>])
# One GoogleTest executable; each test case runs as its own process (300 s at most unless TIMEOUT says otherwise).
# It links the library named by the label, except for a suite of a PROGRAM: that one is built after the program
# and finds it through VD_PROGRAM_PATH.
function(vd_add_suite label file)
    cmake_parse_arguments(ARG "TSAN;RUN_SERIAL" "PROGRAM;TIMEOUT" "LIBS" ${ARGN})
    if(VD_TSAN_ONLY AND NOT ARG_TSAN)
        return()
    endif()
    get_filename_component(stem "${file}" NAME_WE)
    set(target "${label}_${stem}")
    add_executable(${target} "${file}")
    if(ARG_PROGRAM)
        add_dependencies(${target} ${ARG_PROGRAM})
        target_compile_definitions(${target} PRIVATE VD_PROGRAM_PATH="$<TARGET_FILE:${ARG_PROGRAM}>")
    else()
        target_link_libraries(${target} PRIVATE ${label})
    endif()
    target_link_libraries(${target} PRIVATE ${ARG_LIBS} vdtest_common GTest::gmock GTest::gtest_main)
    vd_use_test_pch(${target})
    if(TARGET ${label}_testsupport)
        target_link_libraries(${target} PRIVATE ${label}_testsupport)
    endif()
    if(TARGET ${label}_internal)
        target_link_libraries(${target} PRIVATE ${label}_internal)
    endif()
    set(labels ${label})
    if(ARG_TSAN)
        list(APPEND labels tsan)
        add_dependencies(tsan_suites ${target})
    endif()
    gtest_discover_tests(${target}
        DISCOVERY_MODE PRE_TEST
        DISCOVERY_TIMEOUT 60
        WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
        PROPERTIES TIMEOUT 300)
    set(serial "")
    if(ARG_RUN_SERIAL)
        set(serial RUN_SERIAL)
    endif()
    vd_label_discovered_tests(${target} "${labels}" ${serial} TIMEOUT "${ARG_TIMEOUT}")
endfunction()

# vd_add_suites(<label> [RUN_SERIAL] [LIBS <targets...>] [PROGRAM <target>] [TIMEOUT <seconds>])
# Every *_test.cpp of the calling folder is a suite; *_mt_test.cpp suites are threaded and carry `tsan`.
# Every other .cpp of the folder's support/ subfolder is linked into each suite. RUN_SERIAL, PROGRAM and TIMEOUT
# are passed to vd_add_suite (the support library of a program's suites gets VD_PROGRAM_PATH as well).
function(vd_add_suites label)
    cmake_parse_arguments(ARG "RUN_SERIAL" "PROGRAM;TIMEOUT" "LIBS" ${ARGN})
    set(passed "")
    if(ARG_RUN_SERIAL)
        list(APPEND passed RUN_SERIAL)
    endif()
    foreach(option PROGRAM TIMEOUT)
        if(ARG_${option})
            list(APPEND passed ${option} ${ARG_${option}})
        endif()
    endforeach()
    file(GLOB support CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp")
    if(support AND NOT TARGET ${label}_testsupport)
        add_library(${label}_testsupport STATIC ${support})
        target_include_directories(${label}_testsupport PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/support")
        target_link_libraries(${label}_testsupport PUBLIC ${ARG_LIBS} vdtest_common GTest::gmock)
        if(ARG_PROGRAM)
            target_compile_definitions(${label}_testsupport PUBLIC VD_PROGRAM_PATH="$<TARGET_FILE:${ARG_PROGRAM}>")
        else()
            target_link_libraries(${label}_testsupport PUBLIC ${label})
        endif()
        if(TARGET ${label}_internal)
            target_link_libraries(${label}_testsupport PUBLIC ${label}_internal)
        endif()
    endif()
    file(GLOB files CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
    foreach(file IN LISTS files)
        if(file MATCHES "_mt_test\\.cpp$")
            vd_add_suite(${label} "${file}" TSAN LIBS ${ARG_LIBS} ${passed})
        else()
            vd_add_suite(${label} "${file}" LIBS ${ARG_LIBS} ${passed})
        endif()
    endforeach()
endfunction()

# vd_add_fuzz(<label> <name> [LIBS <targets...>])
# tests/fuzz/<label>/<name>.cpp defines LLVMFuzzerTestOneInput; tests/fuzz/<label>/<name>/ holds its seeds.
# The fuzz build links libFuzzer; every other build replays the seeds and a fixed-seed mutation sweep
# as a GoogleTest case.
function(vd_add_fuzz label name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    if(VD_TSAN_ONLY)
        return()
    endif()
    set(target "fuzz_${label}_${name}")
    set(source "${CMAKE_CURRENT_SOURCE_DIR}/${label}/${name}.cpp")
    set(corpus "${CMAKE_CURRENT_SOURCE_DIR}/${label}/${name}")
    if(VD_SANITIZE STREQUAL "fuzz")
        add_executable(${target} "${source}")
        target_link_libraries(${target} PRIVATE ${label} ${ARG_LIBS})
        target_link_options(${target} PRIVATE -fsanitize=fuzzer)
    else()
        add_executable(${target} "${source}" "${CMAKE_CURRENT_SOURCE_DIR}/replay_main.cpp")
        target_compile_definitions(${target} PRIVATE VD_FUZZ_CORPUS="${corpus}")
        target_link_libraries(${target} PRIVATE ${label} ${ARG_LIBS} GTest::gtest_main)
        vd_use_test_pch(${target})
        gtest_discover_tests(${target}
            DISCOVERY_MODE PRE_TEST
            DISCOVERY_TIMEOUT 60
            TEST_PREFIX "${label}_${name}."
            PROPERTIES TIMEOUT 300)
        vd_label_discovered_tests(${target} "${label};fuzz")
    endif()
endfunction()

# vd_add_bench(<label> [LIBS <targets...>])
# Every .cpp of the calling folder goes into one benchmark executable, bench_<label>.
function(vd_add_bench label)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB files CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
    if(NOT files)
        return()
    endif()
    add_executable(bench_${label} ${files})
    target_link_libraries(bench_${label} PRIVATE ${label} ${ARG_LIBS} benchmark::benchmark_main)
endfunction()

# vd_add_plugin(<target> SOURCES <files...> [OUTPUT_NAME <name>] [SUFFIX <.dll|.DLL>] [LANGUAGE C])
# An audio-component plug-in: a MODULE library <name><suffix> (default: the target's name and ".dll") without a
# prefix. Symbols are hidden, so a library exports only what its sources mark (the factories and a probe); unique
# symbols are off, since one would keep the library loaded after its release; a symbol the host would have to
# provide fails the link. C++ plug-ins link dadovcommon and nothing else; LANGUAGE C links nothing.
function(vd_add_plugin target)
    cmake_parse_arguments(ARG "" "OUTPUT_NAME;SUFFIX;LANGUAGE" "SOURCES" ${ARGN})
    if(NOT ARG_OUTPUT_NAME)
        set(ARG_OUTPUT_NAME ${target})
    endif()
    if(NOT ARG_SUFFIX)
        set(ARG_SUFFIX ".dll")
    endif()
    add_library(${target} MODULE ${ARG_SOURCES})
    set_target_properties(${target} PROPERTIES
        PREFIX ""
        SUFFIX "${ARG_SUFFIX}"
        OUTPUT_NAME "${ARG_OUTPUT_NAME}"
        C_VISIBILITY_PRESET hidden
        CXX_VISIBILITY_PRESET hidden
        VISIBILITY_INLINES_HIDDEN ON)
    target_link_options(${target} PRIVATE -Wl,--exclude-libs,ALL)
    # clang links sanitizer runtimes into programs only: a sanitized plug-in takes their symbols from the host.
    if(NOT (CMAKE_CXX_COMPILER_ID STREQUAL "Clang" AND NOT VD_SANITIZE STREQUAL "none"))
        target_link_options(${target} PRIVATE -Wl,--no-undefined)
    endif()
    if(ARG_LANGUAGE STREQUAL "C")
        set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
    else()
        target_compile_options(${target} PRIVATE $<$<AND:$<COMPILE_LANGUAGE:CXX>,$<CXX_COMPILER_ID:GNU>>:-fno-gnu-unique>)
        target_link_libraries(${target} PRIVATE dadovcommon)
    endif()
endfunction()
