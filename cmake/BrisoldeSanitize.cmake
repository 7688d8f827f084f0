# The sanitizers a build runs under, chosen once per build folder:
#
#   BRISOLDE_SANITIZE=address,undefined   AddressSanitizer and UBSan (preset asan)
#   BRISOLDE_SANITIZE=thread              ThreadSanitizer (preset tsan)
#
# They travel as the usage requirements of one interface target that the top
# level makes every target link (link_libraries), so the objects, the shared
# libraries and the programs of a build are instrumented alike and nothing is
# added to the global compiler flags.
set(BRISOLDE_SANITIZE "" CACHE STRING
    "Sanitizers for every target: empty, address,undefined or thread")
set_property(CACHE BRISOLDE_SANITIZE PROPERTY STRINGS "" "address,undefined" "thread")

add_library(brisolde_sanitize INTERFACE)
add_library(Brisolde::Sanitize ALIAS brisolde_sanitize)

if(BRISOLDE_SANITIZE)
    string(REPLACE "," ";" _brisolde_sanitizers "${BRISOLDE_SANITIZE}")
    foreach(_sanitizer IN LISTS _brisolde_sanitizers)
        if(NOT _sanitizer MATCHES "^(address|undefined|thread)$")
            message(FATAL_ERROR "BRISOLDE_SANITIZE: unknown sanitizer '${_sanitizer}'")
        endif()
    endforeach()
    if("thread" IN_LIST _brisolde_sanitizers AND "address" IN_LIST _brisolde_sanitizers)
        message(FATAL_ERROR "BRISOLDE_SANITIZE: thread and address cannot be combined")
    endif()
    target_compile_options(brisolde_sanitize INTERFACE
        -fsanitize=${BRISOLDE_SANITIZE} -fno-omit-frame-pointer)
    if("undefined" IN_LIST _brisolde_sanitizers)
        # Undefined behaviour ends the test that meets it instead of scrolling by.
        target_compile_options(brisolde_sanitize INTERFACE -fno-sanitize-recover=undefined)
    endif()
    target_link_options(brisolde_sanitize INTERFACE -fsanitize=${BRISOLDE_SANITIZE})
endif()
