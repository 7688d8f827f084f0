#include "profilenames.h"

#include <cstdlib>
#include <pwd.h>
#include <unistd.h>

namespace profile {
namespace {

std::string homeDirectory()
{
    if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        return home;
    if (const passwd* pw = getpwuid(getuid()); pw && pw->pw_dir && pw->pw_dir[0] == '/')
        return pw->pw_dir;
    return "/";
}

} // namespace

std::string defaultDirectoryNameDefault()
{
    std::string dir = homeDirectory();
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

std::string defaultDirectoryDefault()
{
    std::string dir = defaultDirectoryNameDefault();
    if (dir.back() != '/')
        dir += '/';
    return dir;
}

} // namespace profile
