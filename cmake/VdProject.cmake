# Helpers that keep every library, suite, benchmark and fuzz target to one line.

# vd_add_library(<target> [DEPS <targets...>])
# Compiles every .cpp below the calling folder into a static library; the folder is its include path.
function(vd_add_library target)
    cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
    file(GLOB_RECURSE sources CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*.cpp")
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
endfunction()

# Discovered tests get their labels from a script that ctest includes after discovery: a label list
# cannot pass through gtest_discover_tests' PROPERTIES intact.
function(vd_label_discovered_tests target labels)
    set(script "${CMAKE_CURRENT_BINARY_DIR}/${target}_labels.cmake")
    file(WRITE "${script}"
        "foreach(t IN LISTS ${target}_TESTS)\n"
        "    set_tests_properties(\"\${t}\" PROPERTIES LABELS \"${labels}\")\n"
        "endforeach()\n")
    set_property(DIRECTORY APPEND PROPERTY TEST_INCLUDE_FILES "${script}")
endfunction()

# vd_add_suite(<label> <file> [TSAN] [LIBS <targets...>])
# One GoogleTest executable; each test case runs as its own process.
function(vd_add_suite label file)
    cmake_parse_arguments(ARG "TSAN" "" "LIBS" ${ARGN})
    if(VD_TSAN_ONLY AND NOT ARG_TSAN)
        return()
    endif()
    get_filename_component(stem "${file}" NAME_WE)
    set(target "${label}_${stem}")
    add_executable(${target} "${file}")
    target_link_libraries(${target} PRIVATE ${label} ${ARG_LIBS} GTest::gmock GTest::gtest_main)
    if(TARGET ${label}_testsupport)
        target_link_libraries(${target} PRIVATE ${label}_testsupport)
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
    vd_label_discovered_tests(${target} "${labels}")
endfunction()

# vd_add_suites(<label> [LIBS <targets...>])
# Every *_test.cpp of the calling folder is a suite; *_mt_test.cpp suites are threaded and carry `tsan`.
# Every other .cpp of the folder's support/ subfolder is linked into each suite.
function(vd_add_suites label)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    file(GLOB support CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/support/*.cpp")
    if(support AND NOT TARGET ${label}_testsupport)
        add_library(${label}_testsupport STATIC ${support})
        target_include_directories(${label}_testsupport PUBLIC "${CMAKE_CURRENT_SOURCE_DIR}/support")
        target_link_libraries(${label}_testsupport PUBLIC ${label} ${ARG_LIBS} GTest::gmock)
    endif()
    file(GLOB files CONFIGURE_DEPENDS "${CMAKE_CURRENT_SOURCE_DIR}/*_test.cpp")
    foreach(file IN LISTS files)
        if(file MATCHES "_mt_test\\.cpp$")
            vd_add_suite(${label} "${file}" TSAN LIBS ${ARG_LIBS})
        else()
            vd_add_suite(${label} "${file}" LIBS ${ARG_LIBS})
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
    target_link_options(${target} PRIVATE -Wl,--no-undefined -Wl,--exclude-libs,ALL)
    if(ARG_LANGUAGE STREQUAL "C")
        set_target_properties(${target} PROPERTIES LINKER_LANGUAGE C)
    else()
        target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-fno-gnu-unique>)
        target_link_libraries(${target} PRIVATE dadovcommon)
    endif()
endfunction()
