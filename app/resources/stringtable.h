// The program's string table: every text that the menus, prompts, messages and
// the document template use, looked up by resource id.
#pragma once

#include <QString>
#include <QStringList>
#include <span>

namespace res {

// Text of the string resource `id`, or an empty string when there is none.
QString loadString(int id);

struct StringEntry
{
    int id;
    const char* text;
};

// The whole table, in id order.
std::span<const StringEntry> stringTable();

// Message box text shown when an output port cannot be made active.
inline constexpr char kCreateAndAddPortFailed[] = "CreateAndAddPort failed!";

// Fields of the document template string (resource 128), in the framework's order.
enum class DocField
{
    WindowTitle = 0,
    DocName,
    FileNewName,
    FilterName,
    FilterExt,
    RegFileTypeId,
    RegFileTypeName,
};

// One field of a newline-separated document template string.
QString docTemplateField(const QString& templateString, DocField field);

} // namespace res
