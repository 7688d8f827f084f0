# Every library and program of ours links this target; third-party headers come
# in as system includes, so the flags apply to our own code only.
add_library(brisolde_warnings INTERFACE)
add_library(Brisolde::Warnings ALIAS brisolde_warnings)
target_compile_options(brisolde_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wnon-virtual-dtor
    -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
    $<$<BOOL:${BRISOLDE_WERROR}>:-Werror>)
# Qt's moc output is generated code; keep it from tripping the stricter checks.
set(CMAKE_AUTOMOC_MOC_OPTIONS "")
