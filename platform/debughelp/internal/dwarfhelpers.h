// Small DWARF helpers shared by the symbol and type queries.
#pragma once

#include <cstdint>
#include <elfutils/libdw.h>

namespace debughelp::internal {

// The type id of a debugging entry: its offset in the module's DWARF.
uint32_t typeIdOf(Dwarf_Die* die);

// The entry's DW_AT_type, also where it is given by an abstract origin or by the
// declaration an out-of-class definition refers to.
bool typeOf(Dwarf_Die* die, Dwarf_Die* type);

// Follows typedefs and cv-qualifiers down to the type they name.
void stripTypedefs(Dwarf_Die* type);
// Follows cv-qualifiers only (a typedef keeps its own name).
void stripQualifiers(Dwarf_Die* type);

// Bytes a value of `type` occupies; false when unknown.
bool sizeOfType(Dwarf_Die* type, uint64_t* size);

} // namespace debughelp::internal
