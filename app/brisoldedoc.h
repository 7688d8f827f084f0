// The program's only document: the file opened last. Opening a file records
// its directory, keeps the tree in step, hands the file to the engine and,
// depending on the options, plays it. A container can embed it: its
// embedded item is a CBrisoldeSrvrItem.
#pragma once

#include "serverdoc.h"

#include <string>

class CBrisoldeDoc : public embedding::ServerDoc
{
public:
    CBrisoldeDoc();
    ~CBrisoldeDoc() override;

    // Stores and loads nothing: the document has no data of its own.
    void Serialize(embedding::Archive& ar) override;

    bool OnNewDocument() override;
    // Always true: a file that does not load still becomes the document.
    bool OnOpenDocument(const std::string& path) override;

    // Replaces the engine's piece by the file at `path`; the loader's result code.
    int LoadMidiFile(const std::string& path);

protected:
    embedding::ServerItem* OnGetEmbeddedItem() override;
};
