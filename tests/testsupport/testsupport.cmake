# The tests' shared helpers, also linked by the benchmarks (bench/), which
# build without the tests. Included once, by whichever comes first.
include_guard(GLOBAL)
find_package(GTest REQUIRED)
cmake_path(GET CMAKE_CURRENT_LIST_DIR PARENT_PATH orlan_tests_dir)

# Shared test helpers: temporary settings/data directories so that no test
# touches the user's own, the test database server, the queue's rows.
file(GLOB testsupport_sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_LIST_DIR}/*.cpp ${CMAKE_CURRENT_LIST_DIR}/*.h)
list(FILTER testsupport_sources EXCLUDE REGEX "/main\\.cpp$")
add_library(orlan_testsupport STATIC ${testsupport_sources})
target_include_directories(orlan_testsupport PUBLIC ${orlan_tests_dir})
target_link_libraries(orlan_testsupport PUBLIC orlan_core GTest::gtest GTest::gmock)
target_compile_definitions(orlan_testsupport PUBLIC ORLAN_TEST_DATA="${orlan_tests_dir}/data"
    ORLAN_BUILD_DIR="${PROJECT_BINARY_DIR}")
# The driver registries of the source tree, for the test databases.
target_compile_definitions(orlan_testsupport PRIVATE ORLAN_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
