# The usual hardening of a Debian build (what dpkg-buildflags gives a
# package): bounds-checked C library calls, stack protection, and relocations
# resolved at start and then made read-only. Optimised builds only, as the
# checked calls need the optimiser; debug and sanitizer builds stay as they were.
option(BRISOLDE_HARDEN "Build optimised configurations with the usual hardening" ON)

add_library(brisolde_hardening INTERFACE)
add_library(Brisolde::Hardening ALIAS brisolde_hardening)
if(BRISOLDE_HARDEN)
    set(_optimised "$<NOT:$<CONFIG:Debug>>")
    target_compile_definitions(brisolde_hardening INTERFACE $<${_optimised}:_FORTIFY_SOURCE=2>)
    target_compile_options(brisolde_hardening INTERFACE
        $<${_optimised}:-fstack-protector-strong>)
    target_link_options(brisolde_hardening INTERFACE
        $<${_optimised}:LINKER:-z,relro,-z,now>)
endif()
