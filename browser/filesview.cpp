#include "filesview.h"

#include "drives.h"

#include "images.h"
#include "profilenames.h"
#include "resource.h"
#include "winapp.h"

#include <QFile>
#include <QHeaderView>
#include <QIcon>
#include <QMouseEvent>

#include <cstdint>
#include <cstring>
#include <dirent.h>
#include <locale.h>
#include <sys/stat.h>
#include <thread>
#include <vector>

namespace {

// Each row keeps its name's bytes, which need not be UTF-8.
constexpr int kNameRole = Qt::UserRole;

// One row: the name (and its bytes), the date and the size. What every row
// shows alike (the note, the dates and sizes to the right) is answered, not
// stored: with 50,000 rows the items' own storage is most of a fill.
class FileRow final : public QTreeWidgetItem
{
public:
    FileRow(const char* name, QString date, QString size, const QIcon& note)
        : m_bytes(name), m_name(QFile::decodeName(m_bytes)), m_date(std::move(date)),
          m_size(std::move(size)), m_note(note)
    {
    }

    QVariant data(int column, int role) const override
    {
        switch (role) {
        case Qt::DisplayRole:
            switch (column) {
            case 0:
                return m_name;
            case 1:
                return m_date;
            case 2:
                return m_size;
            default:
                return {};
            }
        case Qt::DecorationRole:
            return column == 0 ? QVariant(m_note) : QVariant();
        case Qt::TextAlignmentRole:
            return column == 0 ? QVariant() : QVariant(int(Qt::AlignRight | Qt::AlignVCenter));
        case kNameRole:
            return column == 0 ? QVariant(m_bytes) : QVariant();
        default:
            return QTreeWidgetItem::data(column, role);
        }
    }

private:
    const QByteArray m_bytes;
    const QString m_name;
    const QString m_date;
    const QString m_size;
    const QIcon m_note;
};

std::string lowerAscii(std::string text)
{
    for (char& c : text) {
        if (c >= 'A' && c <= 'Z')
            c = char(c - 'A' + 'a');
    }
    return text;
}

} // namespace

CFilesView::CFilesView(QWidget* parent) : QTreeWidget(parent)
{
    setObjectName(QStringLiteral("filesView"));
    setRootIsDecorated(false);
    setItemsExpandable(false);
    setUniformRowHeights(true);
    setSortingEnabled(false);
}

CFilesView::~CFilesView() = default;

void CFilesView::OnInitialUpdate()
{
    framework::View::OnInitialUpdate();
    InitColumns();
}

void CFilesView::OnUpdate(framework::View*, std::intptr_t, QObject*)
{
    InitColumns();
    FillFileList();
}

void CFilesView::InitColumns()
{
    if (!m_bFirstUpdate)
        return;
    // Report view, one row selected at a time, the selection shown always, whole rows.
    setSelectionMode(QAbstractItemView::SingleSelection);
    setSelectionBehavior(QAbstractItemView::SelectRows);
    setAllColumnsShowFocus(true);
    setColumnCount(3);
    setHeaderLabels({QStringLiteral("File Name"), QStringLiteral("Date"), QStringLiteral("Size")});
    headerItem()->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    headerItem()->setTextAlignment(2, Qt::AlignRight | Qt::AlignVCenter);
    header()->setSectionsClickable(false);
    header()->setStretchLastSection(false);
    setColumnWidth(0, 240);
    setColumnWidth(1, 160);
    setColumnWidth(2, 80);
    m_imageList = res::splitStrip(res::loadBitmap(IDB_ITEM_IMAGES), res::kItemImageSize);
    setIconSize(QSize(res::kItemImageSize, res::kItemImageSize));
    m_bFirstUpdate = false;
}

bool CFilesView::HasExtension(const char* name, const char* ext)
{
    const char* dot = std::strrchr(name, '.');
    const std::string extension = dot ? std::string(dot) : std::string();
    return lowerAscii(extension) == lowerAscii(ext);
}

bool CFilesView::IsMidiFile(const char* name)
{
    return HasExtension(name, ".mid") || HasExtension(name, ".rmi");
}

std::string CFilesView::FormatDate(std::time_t time)
{
    // The C locale whatever the user's: English month names, 24-hour clock.
    static const locale_t cLocale = ::newlocale(LC_ALL_MASK, "C", locale_t(nullptr));
    std::tm local{};
    if (!::localtime_r(&time, &local) || !cLocale)
        return {};
    char buffer[128];
    const std::size_t length =
        ::strftime_l(buffer, sizeof buffer, "%d %b %Y %H:%M:%S", &local, cLocale);
    return std::string(buffer, length);
}

namespace {

// What the list shows of one file; `listed` is false for what is left out.
struct FileFacts
{
    bool listed = false;
    std::time_t modified = 0;
    std::int64_t size = 0;
};

// Looks at names [first, last) of `names` relative to the open directory:
// the system walks one name instead of the whole path. Links count as what
// they point at; dangling ones, directories and anything but regular files
// are left out.
void lookUp(int directoryFd, const std::vector<std::string>& names, std::vector<FileFacts>& facts,
            std::size_t first, std::size_t last)
{
    for (std::size_t i = first; i < last; ++i) {
        struct stat st
        {
        };
        if (::fstatat(directoryFd, names[i].c_str(), &st, 0) == 0 && S_ISREG(st.st_mode))
            facts[i] = {true, st.st_mtime, static_cast<std::int64_t>(st.st_size)};
    }
}

// From this many names on, a second thread looks at half of them.
constexpr std::size_t kTwoThreadsFrom = 2048;

} // namespace

void CFilesView::FillFileList()
{
    clear();
    const std::string directory = DefaultDirectory();
    DIR* dir = ::opendir(directory.c_str());
    if (!dir)
        return;
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] != '.' && IsMidiFile(name))
            names.emplace_back(name);
    }
    // Looking at each file is most of a fill of a large folder: a helper
    // thread takes the second half of the names. It touches nothing but
    // those names' facts and is joined before any row is made.
    const int directoryFd = ::dirfd(dir);
    std::vector<FileFacts> facts(names.size());
    const std::size_t half = names.size() >= kTwoThreadsFrom ? names.size() / 2 : names.size();
    std::thread helper;
    if (half < names.size())
        helper =
            std::thread(lookUp, directoryFd, std::cref(names), std::ref(facts), half, names.size());
    lookUp(directoryFd, names, facts, 0, half);
    if (helper.joinable())
        helper.join();
    ::closedir(dir);

    const QIcon note(m_imageList.value(res::kImageNote));
    QList<QTreeWidgetItem*> rows;
    rows.reserve(qsizetype(names.size()));
    for (std::size_t i = 0; i < names.size(); ++i) {
        if (!facts[i].listed)
            continue;
        const std::string date = FormatDate(facts[i].modified);
        rows.append(new FileRow(names[i].c_str(),
                                QString::fromLatin1(date.data(), qsizetype(date.size())),
                                QString::number(facts[i].size), note));
    }
    addTopLevelItems(rows);
}

int CFilesView::GetSelectedIndex() const
{
    for (int i = 0; i < topLevelItemCount(); ++i) {
        if (topLevelItem(i)->isSelected())
            return i;
    }
    return -1;
}

void CFilesView::ClearSelection()
{
    for (int i = 0; i < topLevelItemCount(); ++i)
        topLevelItem(i)->setSelected(false);
}

int CFilesView::SelectNextFile()
{
    const int count = topLevelItemCount();
    if (count == 0)
        return -1;
    const int selected = GetSelectedIndex();
    if (selected < 0) {
        topLevelItem(0)->setSelected(true);
        return 0;
    }
    if (selected < count - 1) {
        ClearSelection();
        topLevelItem(selected + 1)->setSelected(true);
        return selected + 1;
    }
    const framework::WinApp* app = framework::AfxGetApp();
    const int loop =
        app ? app->GetProfileInt(profile::kSettings, profile::kLoop, profile::kLoopDefault)
            : profile::kLoopDefault;
    ClearSelection();
    if (profile::isOn(loop)) {
        topLevelItem(0)->setSelected(true);
        return 0;
    }
    return -1;
}

void CFilesView::PlaySelectedFile()
{
    std::string path = DefaultDirectory();
    const int selected = GetSelectedIndex();
    if (selected < 0)
        return;
    const QByteArray name = topLevelItem(selected)->data(0, kNameRole).toByteArray();
    if (!IsMidiFile(name.constData()))
        return;
    path += name.toStdString();
    if (framework::Document* document = GetDocument()) {
        document->OnOpenDocument(path);
        document->SetPathName(path, true);
        document->UpdateAllViews(this, 0, nullptr);
    }
}

void CFilesView::PlayNextFile()
{
    SelectNextFile();
    PlaySelectedFile();
}

void CFilesView::OnDblclk()
{
    PlaySelectedFile();
}

void CFilesView::mouseDoubleClickEvent(QMouseEvent* event)
{
    QTreeWidget::mouseDoubleClickEvent(event);
    if (event->button() == Qt::LeftButton)
        OnDblclk();
}
