#include "resourcemodule.h"

namespace framework {
namespace {

const ResourceModule* g_resources = nullptr;

} // namespace

ResourceModule::~ResourceModule() = default;

QString ResourceModule::loadString(int) const
{
    return {};
}

std::span<const MenuPopup> ResourceModule::menu(int) const
{
    return {};
}

std::span<const Accelerator> ResourceModule::acceleratorTable(int) const
{
    return {};
}

ToolBarResource ResourceModule::toolBar(int) const
{
    return {};
}

QIcon ResourceModule::loadIcon(int) const
{
    return {};
}

QPixmap ResourceModule::loadBitmap(int) const
{
    return {};
}

const ResourceModule& AfxGetResourceHandle()
{
    static const ResourceModule none;
    return g_resources ? *g_resources : none;
}

void AfxSetResourceHandle(const ResourceModule* module)
{
    g_resources = module;
}

} // namespace framework
