#include "dwarfhelpers.h"

#include <dwarf.h>

namespace debughelp::internal {

uint32_t typeIdOf(Dwarf_Die* die)
{
    return static_cast<uint32_t>(dwarf_dieoffset(die));
}

bool typeOf(Dwarf_Die* die, Dwarf_Die* type)
{
    Dwarf_Attribute attr;
    return dwarf_attr_integrate(die, DW_AT_type, &attr) && dwarf_formref_die(&attr, type);
}

static bool isQualifier(int tag)
{
    return tag == DW_TAG_const_type || tag == DW_TAG_volatile_type || tag == DW_TAG_restrict_type ||
           tag == DW_TAG_atomic_type;
}

void stripQualifiers(Dwarf_Die* type)
{
    // Bounded, so that a malformed cycle cannot hold up a crash report.
    for (int i = 0; i < 64 && isQualifier(dwarf_tag(type)); ++i) {
        Dwarf_Die next;
        if (!typeOf(type, &next))
            return;
        *type = next;
    }
}

void stripTypedefs(Dwarf_Die* type)
{
    for (int i = 0; i < 64; ++i) {
        const int tag = dwarf_tag(type);
        if (!isQualifier(tag) && tag != DW_TAG_typedef)
            return;
        Dwarf_Die next;
        if (!typeOf(type, &next))
            return;
        *type = next;
    }
}

bool sizeOfType(Dwarf_Die* type, uint64_t* size)
{
    Dwarf_Die die = *type;
    stripTypedefs(&die);
    Dwarf_Attribute attr;
    Dwarf_Word word = 0;
    if (dwarf_attr_integrate(&die, DW_AT_byte_size, &attr) && dwarf_formudata(&attr, &word) == 0) {
        *size = word;
        return true;
    }
    const int tag = dwarf_tag(&die);
    if (tag == DW_TAG_pointer_type || tag == DW_TAG_reference_type ||
        tag == DW_TAG_rvalue_reference_type || tag == DW_TAG_ptr_to_member_type) {
        Dwarf_Die cu;
        uint8_t addressSize = 0;
        if (!dwarf_diecu(&die, &cu, &addressSize, nullptr))
            return false;
        *size = addressSize;
        return true;
    }
    if (dwarf_aggregate_size(&die, &word) != 0)
        return false;
    *size = word;
    return true;
}

} // namespace debughelp::internal
