#pragma once

#include <table/SharedReceiverTable.h>

#include <juce_core/juce_core.h>

#include <memory>

// A second, independent mapping of a table file, as a sending peer sees it.
class TableFileView
{
public:
    explicit TableFileView (const juce::File& file)
        : mapping (std::make_unique<juce::MemoryMappedFile> (file, juce::MemoryMappedFile::readWrite, false))
    {
    }

    bool isValid() const { return mapping->getData() != nullptr && mapping->getSize() >= keyferry::TableFileSize; }

    keyferry::SharedReceiverTable& table() const { return *static_cast<keyferry::SharedReceiverTable*> (mapping->getData()); }
    keyferry::ReceiverSlot& slot (int index) const { return table().slots[index]; }

private:
    std::unique_ptr<juce::MemoryMappedFile> mapping;
};
