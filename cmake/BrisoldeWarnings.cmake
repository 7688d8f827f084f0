# Every library and program of ours links this target; third-party headers come
# in as system includes, so the flags apply to our own code only.
#
# Qt's moc output is compiled inside each target that has Q_OBJECT classes
# (<target>_autogen/mocs_compilation.cpp), so it gets these same flags,
# -Werror included. Qt 6.4's moc builds clean under them; a moc that stops
# doing so fails the build here, and is to be silenced on that generated file
# alone, never by relaxing the flags for our own code.
add_library(brisolde_warnings INTERFACE)
add_library(Brisolde::Warnings ALIAS brisolde_warnings)
target_compile_options(brisolde_warnings INTERFACE
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wnon-virtual-dtor
    -Wold-style-cast -Woverloaded-virtual -Wnull-dereference
    $<$<BOOL:${BRISOLDE_WERROR}>:-Werror>)
