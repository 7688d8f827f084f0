// The program's only document: the file opened last. Opening a file records
// its directory, keeps the tree in step, hands the file to the engine and,
// depending on the options, plays it.
#pragma once

#include "document.h"

#include <string>

class CBrisoldeDoc : public framework::Document
{
public:
    CBrisoldeDoc();
    ~CBrisoldeDoc() override;

    bool OnNewDocument() override;
    // Always true: a file that does not load still becomes the document.
    bool OnOpenDocument(const std::string& path) override;

    // Replaces the engine's piece by the file at `path`; the loader's result code.
    int LoadMidiFile(const std::string& path);
};
