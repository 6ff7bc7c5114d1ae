#include "ui/CtolmiDlg.h"

#include <QListWidget>
#include <QSignalBlocker>

namespace {

// What each line of the list keeps besides its text.
enum LineRole { RawNameRole = Qt::UserRole, DirectoryRole, SizeRole, KindKnownRole };

} // namespace

void CtolmiDlg::ClearFileList() {
    // Emptying the list is not a selection by the user.
    const QSignalBlocker blocker(m_listFiles);
    m_listFiles->clear();
    // An empty list stands for the login directory, as after a failed Connect.
    m_listedDirectory = RemotePath();
}

void CtolmiDlg::OpenFinder() {
    m_pFinder = std::make_unique<CFtpFileFind>(m_pConnection.get());
    // What the listing brought is shown even where it broke off; failing, it is empty.
    (void)RunInBackground<FtpResult>(ProgressActivity::Listing, QString(),
                                     [finder = m_pFinder.get()] { return finder->FindFile(); });
    m_bWorking = m_pFinder->HasEntries();
    if (!m_bWorking) {
        m_pFinder->Close();
        m_pFinder.reset();
    }
}

CtolmiDlg::ListLine CtolmiDlg::CurrentFinderLine() const {
    const bool isDirectory = m_pFinder->MatchesMask(FILE_ATTRIBUTE_DIRECTORY);
    const QString name = m_pFinder->GetFileName();
    return {isDirectory ? "[" + name + "]" : name, m_pFinder->GetRawFileName(), isDirectory,
            m_pFinder->GetLength(), m_pFinder->IsKindKnown()};
}

void CtolmiDlg::ReadFinderLines(const std::function<void(ListLine)>& visit) {
    while (m_bWorking) {
        m_bWorking = m_pFinder->FindNextFile();
        visit(CurrentFinderLine());
    }
}

void CtolmiDlg::AddLines(const std::vector<ListLine>& lines) {
    // One repaint for the whole batch: long listings would otherwise crawl.
    const QSignalBlocker blocker(m_listFiles);
    m_listFiles->setUpdatesEnabled(false);
    for (const ListLine& line : lines) {
        auto* item = new QListWidgetItem(line.text);
        item->setData(RawNameRole, line.rawName);
        item->setData(DirectoryRole, line.isDirectory);
        item->setData(SizeRole, line.size);
        item->setData(KindKnownRole, line.kindKnown);
        m_listFiles->addItem(item);
    }
    m_listFiles->setUpdatesEnabled(true);
}

void CtolmiDlg::ListCurrentDirectory() {
    std::vector<ListLine> directories;
    std::vector<ListLine> files;
    ReadFinderLines([&](ListLine line) {
        // The directory itself is no entry to show or enter.
        if (line.isDirectory && line.rawName == ".")
            return;
        (line.isDirectory ? directories : files).push_back(std::move(line));
    });
    AddLines(directories);
    AddLines(files);
}

void CtolmiDlg::ListCurrentDirectoryInOrder() {
    std::vector<ListLine> lines;
    ReadFinderLines([&](ListLine line) { lines.push_back(std::move(line)); });
    AddLines(lines);
}

std::optional<CtolmiDlg::ListLine> CtolmiDlg::SelectedLine() const {
    const QList<QListWidgetItem*> selected = m_listFiles->selectedItems();
    if (selected.isEmpty())
        return std::nullopt;
    const QListWidgetItem* item = selected.first();
    return ListLine{item->text(), item->data(RawNameRole).toByteArray(),
                    item->data(DirectoryRole).toBool(), item->data(SizeRole).toLongLong(),
                    item->data(KindKnownRole).toBool()};
}
