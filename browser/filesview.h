// The right pane: the MIDI files of the directory chosen in the tree.
#pragma once

#include "document.h"

#include <QTreeWidget>

class CFilesView : public QTreeWidget, public framework::View
{
    Q_OBJECT

public:
    explicit CFilesView(QWidget* parent = nullptr);
    ~CFilesView() override;

    QWidget* widget() override { return this; }

    // Selects the next row and opens its file in the document.
    void PlayNextFile();
};
