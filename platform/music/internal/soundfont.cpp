#include "soundfont.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

namespace music::internal {

std::vector<std::string> soundFontCandidates(const std::string& folder)
{
    namespace fs = std::filesystem;
    std::vector<std::string> found;
    auto addIfFile = [&found](const fs::path& path) {
        std::error_code error;
        if (fs::is_regular_file(path, error) &&
            std::find(found.begin(), found.end(), path.string()) == found.end())
            found.push_back(path.string());
    };
    for (const char* name : {"default-GM.sf2", "FluidR3_GM.sf2", "TimGM6mb.sf2"})
        addIfFile(fs::path(folder) / name);

    std::vector<fs::path> others;
    std::error_code error;
    for (fs::directory_iterator it(folder, error), end; !error && it != end; it.increment(error)) {
        std::string ext = it->path().extension().string();
        std::transform(ext.begin(), ext.end(), ext.begin(),
                       [](unsigned char c) { return char(std::tolower(c)); });
        if (ext == ".sf2" || ext == ".sf3")
            others.push_back(it->path());
    }
    std::sort(others.begin(), others.end());
    for (const fs::path& path : others)
        addIfFile(path);
    return found;
}

} // namespace music::internal
