// Type information: names, sizes, base types and the members of classes.
#include "dwarfhelpers.h"
#include "session.h"

#include <dwarf.h>

#include <cstdlib>
#include <cstring>

using namespace debughelp;
using namespace debughelp::internal;

namespace {

bool entryFor(uint64_t modBase, uint32_t typeId, Dwarf_Die* die)
{
    Dwarf_Addr bias = 0;
    Dwarf* dwarf = moduleDwarf(moduleAt(modBase), &bias);
    return dwarf && typeId != 0 && dwarf_offdie(dwarf, typeId, die) != nullptr;
}

bool isObject(int tag)
{
    return tag == DW_TAG_member || tag == DW_TAG_inheritance || tag == DW_TAG_variable ||
           tag == DW_TAG_formal_parameter;
}

bool isClass(int tag)
{
    return tag == DW_TAG_structure_type || tag == DW_TAG_class_type || tag == DW_TAG_union_type;
}

// A data member stored in each object (not a static one) or a base class.
bool isChild(Dwarf_Die* die)
{
    const int tag = dwarf_tag(die);
    if (tag == DW_TAG_inheritance)
        return true;
    return tag == DW_TAG_member && !dwarf_hasattr(die, DW_AT_declaration) &&
           !dwarf_hasattr(die, DW_AT_external);
}

// The class whose members are a type's (or an object's) children.
bool classOf(Dwarf_Die* die, Dwarf_Die* result)
{
    Dwarf_Die type = *die;
    // An object's members are those of its type, so nested classes unfold.
    if (isObject(dwarf_tag(&type)) && !typeOf(die, &type))
        return false;
    stripTypedefs(&type);
    if (!isClass(dwarf_tag(&type)))
        return false;
    *result = type;
    return true;
}

uint32_t basicTypeOf(Dwarf_Die* die)
{
    Dwarf_Attribute attr;
    Dwarf_Word encoding = 0;
    uint64_t size = 0;
    if (!dwarf_attr(die, DW_AT_encoding, &attr) || dwarf_formudata(&attr, &encoding) != 0)
        return kBtNoType;
    sizeOfType(die, &size);
    const char* name = dwarf_diename(die);
    switch (encoding) {
    case DW_ATE_signed_char:
    case DW_ATE_unsigned_char:
        return kBtChar;
    case DW_ATE_signed:
        if (name && std::strcmp(name, "wchar_t") == 0)
            return kBtWChar;
        return size == 1 ? kBtChar : (name && std::strstr(name, "long")) ? kBtLong : kBtInt;
    case DW_ATE_unsigned:
        if (size == 1)
            return kBtChar;
        return (name && std::strstr(name, "long")) ? kBtULong : kBtUInt;
    case DW_ATE_UTF:
        return size == 1 ? kBtChar8 : size == 2 ? kBtChar16 : kBtChar32;
    case DW_ATE_float:
        return kBtFloat;
    case DW_ATE_boolean:
        return kBtBool;
    default:
        return kBtNoType;
    }
}

uint32_t symTagOf(Dwarf_Die* die)
{
    switch (dwarf_tag(die)) {
    case DW_TAG_base_type:
        return kSymTagBaseType;
    case DW_TAG_pointer_type:
    case DW_TAG_reference_type:
    case DW_TAG_rvalue_reference_type:
        return kSymTagPointerType;
    case DW_TAG_array_type:
        return kSymTagArrayType;
    case DW_TAG_structure_type:
    case DW_TAG_class_type:
    case DW_TAG_union_type:
        return kSymTagUdt;
    case DW_TAG_enumeration_type:
        return kSymTagEnum;
    case DW_TAG_typedef:
        return kSymTagTypedef;
    case DW_TAG_inheritance:
        return kSymTagBaseClass;
    case DW_TAG_subprogram:
        return kSymTagFunction;
    default:
        return kSymTagData;
    }
}

bool memberOffset(Dwarf_Die* die, uint32_t* offset)
{
    Dwarf_Attribute attr;
    Dwarf_Word value = 0;
    if (dwarf_attr(die, DW_AT_data_member_location, &attr)) {
        if (dwarf_formudata(&attr, &value) == 0) {
            *offset = static_cast<uint32_t>(value);
            return true;
        }
        Dwarf_Op* ops = nullptr;
        size_t count = 0;
        if (dwarf_getlocation(&attr, &ops, &count) == 0 && count == 1 &&
            ops[0].atom == DW_OP_plus_uconst) {
            *offset = static_cast<uint32_t>(ops[0].number);
            return true;
        }
        return false;
    }
    if (dwarf_attr(die, DW_AT_data_bit_offset, &attr) && dwarf_formudata(&attr, &value) == 0) {
        *offset = static_cast<uint32_t>(value / 8);
        return true;
    }
    // Members of a union carry no location: they all start at its beginning.
    if (dwarf_tag(die) == DW_TAG_member) {
        *offset = 0;
        return true;
    }
    return false;
}

bool query(Dwarf_Die* die, TypeInfoQuery kind, void* info)
{
    switch (kind) {
    case kGetSymTag: {
        Dwarf_Die type = *die;
        stripQualifiers(&type);
        *static_cast<uint32_t*>(info) = symTagOf(&type);
        return true;
    }
    case kGetSymName: {
        Dwarf_Die type = *die;
        stripQualifiers(&type);
        const char* name = dwarf_diename(&type);
        if (!name)
            return false;
        char* copy = ::strdup(name);
        if (!copy)
            return false;
        *static_cast<char**>(info) = copy;
        return true;
    }
    case kGetLength: {
        Dwarf_Die type = *die;
        if (isObject(dwarf_tag(&type)) && !typeOf(die, &type))
            return false;
        uint64_t size = 0;
        if (!sizeOfType(&type, &size))
            return false;
        *static_cast<uint64_t*>(info) = size;
        return true;
    }
    case kGetTypeId: {
        Dwarf_Die type;
        if (!typeOf(die, &type))
            return false;
        *static_cast<uint32_t*>(info) = typeIdOf(&type);
        return true;
    }
    case kGetBaseType: {
        Dwarf_Die type = *die;
        stripTypedefs(&type);
        if (dwarf_tag(&type) == DW_TAG_enumeration_type) {
            // An enumeration is read as its underlying integer.
            if (!typeOf(&type, &type))
                return false;
            stripTypedefs(&type);
        }
        if (dwarf_tag(&type) != DW_TAG_base_type)
            return false;
        *static_cast<uint32_t*>(info) = basicTypeOf(&type);
        return true;
    }
    case kGetChildrenCount:
    case kFindChildren: {
        Dwarf_Die owner;
        uint32_t count = 0;
        auto* params = static_cast<FindChildrenParams*>(info);
        if (classOf(die, &owner)) {
            Dwarf_Die child;
            if (dwarf_child(&owner, &child) == 0) {
                do {
                    if (!isChild(&child))
                        continue;
                    if (kind == kFindChildren && count >= params->start &&
                        count - params->start < params->count)
                        params->childId[count - params->start] = typeIdOf(&child);
                    ++count;
                } while (dwarf_siblingof(&child, &child) == 0);
            }
        }
        if (kind == kGetChildrenCount) {
            *static_cast<uint32_t*>(info) = count;
            return true;
        }
        return count > params->start;
    }
    case kGetOffset: {
        const int tag = dwarf_tag(die);
        if (tag != DW_TAG_member && tag != DW_TAG_inheritance)
            return false;
        return memberOffset(die, static_cast<uint32_t*>(info));
    }
    }
    return false;
}

} // namespace

extern "C" bool SymGetTypeInfo(pid_t process, uint64_t modBase, uint32_t typeId, TypeInfoQuery kind,
                               void* info)
{
    if (!ready(process) || !info)
        return false;
    Dwarf_Die die;
    if (!entryFor(modBase, typeId, &die))
        return false;
    return query(&die, kind, info);
}
