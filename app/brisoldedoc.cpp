#include "brisoldedoc.h"

#include "directoryview.h"
#include "srvritem.h"
#include "transport.h"

#include "profile.h"
#include "profilenames.h"
#include "waitcursor.h"

#include <unistd.h>

CBrisoldeDoc::CBrisoldeDoc(CTransport& transport, const framework::Profile& profile)
    : m_transport(transport), m_profile(profile)
{
}

CBrisoldeDoc::~CBrisoldeDoc() = default;

void CBrisoldeDoc::Serialize(embedding::Archive&) {}

embedding::ServerItem* CBrisoldeDoc::OnGetEmbeddedItem()
{
    return new CBrisoldeSrvrItem(this);
}

bool CBrisoldeDoc::OnNewDocument()
{
    return framework::Document::OnNewDocument();
}

int CBrisoldeDoc::LoadMidiFile(const std::string& path)
{
    return m_transport.LoadMidiFile(path);
}

bool CBrisoldeDoc::OnOpenDocument(const std::string& path)
{
    framework::WaitCursor wait;

    const std::size_t slash = path.rfind('/');
    std::string directory = slash == std::string::npos ? std::string() : path.substr(0, slash);
    m_profile.writeString(profile::kSettings, profile::kDefaultDirectoryName, directory);
    if (::chdir(directory.c_str()) != 0) {
        // A directory that cannot be entered is no reason not to play.
    }
    directory += '/';
    const std::string stored = m_profile.getString(profile::kSettings, profile::kDefaultDirectory)
                                   .value_or(profile::defaultDirectoryDefault());
    if (stored != directory) {
        m_profile.writeString(profile::kSettings, profile::kDefaultDirectory, directory);
        // The tree that shows this document follows, wherever it is shown.
        for (framework::View* view : views()) {
            if (auto* tree = dynamic_cast<CDirectoryView*>(view))
                tree->RebuildTree();
        }
    }

    // Whether it loaded, the transport says to whoever shows it.
    LoadMidiFile(path);

    auto option = [this](const char* entry, int defaultValue) {
        return profile::isOn(m_profile.getInt(profile::kSettings, entry, defaultValue));
    };
    if (option(profile::kAutoplay, profile::kAutoplayDefault) ||
        option(profile::kLoop, profile::kLoopDefault) ||
        option(profile::kPlayDirectory, profile::kPlayDirectoryDefault))
        m_transport.PlayMidi();
    return true;
}
