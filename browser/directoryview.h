// The left pane: a tree of the machine's drives and directories.
#pragma once

#include "document.h"

#include <QTreeWidget>

class CDirectoryView : public QTreeWidget, public framework::View
{
    Q_OBJECT

public:
    explicit CDirectoryView(QWidget* parent = nullptr);
    ~CDirectoryView() override;

    QWidget* widget() override { return this; }
    void OnInitialUpdate() override;
    void OnUpdate(framework::View* sender, std::intptr_t hint, QObject* hintObject) override;

    // Deletes all items and fills the tree again along "Default Directory";
    // does nothing while the tree has never been filled.
    void RebuildTree();

    bool m_bFirstUpdate = true;
    int rebuilds() const { return m_rebuilds; }

private:
    void InitTree();
    int m_rebuilds = 0;
};
