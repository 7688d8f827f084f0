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

#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <dirent.h>
#include <locale.h>
#include <mutex>
#include <optional>
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
    // The texts of one file, made before its row.
    struct Texts
    {
        QByteArray bytes;
        QString name;
        QString date;
        QString size;
    };

    FileRow(Texts&& texts, const QIcon& note)
        : m_bytes(std::move(texts.bytes)), m_name(std::move(texts.name)),
          m_date(std::move(texts.date)), m_size(std::move(texts.size)), m_note(note)
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
    m_note = QIcon(m_imageList.value(res::kImageNote));
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

// The MIDI files of a folder in blocks of names, in listing order, with what
// the list shows of each: the reading thread fills a block and hands it on,
// and two threads (the reader, once it has read all, and a helper) look at
// the files of the blocks handed on.
class FolderLookUp
{
public:
    explicit FolderLookUp(int directoryFd) : m_directoryFd(directoryFd) {}
    ~FolderLookUp() { finish(); }

    // Reading thread: one more name in listing order.
    void add(const char* name)
    {
        if (m_blocks.empty() || m_blocks.back().names.size() == kBlock) {
            std::unique_lock lock(m_mutex);
            if (!m_blocks.empty()) {
                ++m_handedOn;
                m_wake.notify_one();
                // From the second block on a helper is worth its start.
                if (!m_helper.joinable())
                    m_helper = std::thread([this] { work(); });
            }
            m_blocks.emplace_back();
            m_blocks.back().names.reserve(kBlock);
        }
        m_blocks.back().names.emplace_back(name);
    }

    // Reading thread, after the last name: looks at files with the helper
    // until every block is done. Then the rows may be made.
    void finish()
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_finished)
                return;
            m_finished = true;
            m_handedOn = m_blocks.size();
        }
        m_wake.notify_one();
        work();
        if (m_helper.joinable())
            m_helper.join();
    }

    struct Block
    {
        std::vector<std::string> names;
        std::vector<std::optional<FileRow::Texts>> texts; // empty: not listed
    };
    std::deque<Block>& blocks() { return m_blocks; }

private:
    static constexpr std::size_t kBlock = 1024;

    // Takes the next block handed on and looks at its files, until none is
    // left and none will come.
    void work()
    {
        for (;;) {
            Block* block = nullptr;
            {
                std::unique_lock lock(m_mutex);
                m_wake.wait(lock, [this] { return m_next < m_handedOn || m_finished; });
                if (m_next == m_handedOn)
                    return;
                block = &m_blocks[m_next++];
            }
            lookAt(*block);
        }
    }

    // Each name is looked at relative to the open directory: the system walks
    // one name instead of the whole path. Links count as what they point at;
    // dangling ones, directories and anything but regular files are left out.
    void lookAt(Block& block)
    {
        block.texts.resize(block.names.size());
        for (std::size_t i = 0; i < block.names.size(); ++i) {
            const std::string& name = block.names[i];
            struct stat st
            {
            };
            if (::fstatat(m_directoryFd, name.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode))
                continue;
            const std::string date = CFilesView::FormatDate(st.st_mtime);
            QByteArray bytes(name.data(), qsizetype(name.size()));
            QString shown = QFile::decodeName(bytes);
            block.texts[i] =
                FileRow::Texts{std::move(bytes), std::move(shown),
                               QString::fromLatin1(date.data(), qsizetype(date.size())),
                               QString::number(static_cast<qint64>(st.st_size))};
        }
    }

    const int m_directoryFd;
    std::deque<Block> m_blocks;
    std::mutex m_mutex;
    std::condition_variable m_wake;
    std::size_t m_handedOn = 0; // blocks [0, m_handedOn) may be looked at
    std::size_t m_next = 0;     // the next block to look at
    bool m_finished = false;
    std::thread m_helper;
};

} // namespace

void CFilesView::FillFileList()
{
    clear();
    const std::string directory = DefaultDirectory();
    DIR* dir = ::opendir(directory.c_str());
    if (!dir)
        return;
    // Looking at each file is most of a fill of a large folder: it starts
    // while the folder is still being read, on a second thread.
    FolderLookUp lookUp(::dirfd(dir));
    while (const dirent* entry = ::readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] != '.' && IsMidiFile(name))
            lookUp.add(name);
    }
    lookUp.finish();
    ::closedir(dir);

    QList<QTreeWidgetItem*> rows;
    for (FolderLookUp::Block& block : lookUp.blocks()) {
        for (std::optional<FileRow::Texts>& texts : block.texts) {
            if (texts)
                rows.append(new FileRow(std::move(*texts), m_note));
        }
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
