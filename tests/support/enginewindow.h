// The main window as the engine sees it, for tests of the engine without one:
// a device list, and what the engine asked of the timer, the Reverb item and
// the window's messages.
#pragma once

#include "engine.h"

#include <string>
#include <utility>
#include <vector>

struct FakeEngineWindow : IEngineWindow
{
    std::vector<std::pair<std::string, const music::PortCaps*>> entries;
    int selection = -1;
    bool timer = false;
    bool reverbEnabled = true;
    int segmentEnds = 0;
    std::vector<std::string> portsGone;
    int delays = 0;

    int DeviceListAdd(const std::string& text, const music::PortCaps* caps) override
    {
        entries.emplace_back(text, caps);
        return int(entries.size()) - 1;
    }
    int DeviceListGetCurSel() const override { return selection; }
    void DeviceListSetCurSel(int index) override { selection = index; }
    const music::PortCaps* DeviceListGetItemData(int index) const override
    {
        return index >= 0 && index < int(entries.size()) ? entries[std::size_t(index)].second
                                                         : nullptr;
    }
    void SetPositionTimer(bool on) override { timer = on; }
    void EnableReverbItem(bool enable) override { reverbEnabled = enable; }
    void PostSegmentEnd() override { ++segmentEnds; }
    void OnPortGone(const std::string& description) override { portsGone.push_back(description); }
    void PlayDelay() override { ++delays; }

    int indexOf(const std::string& text) const
    {
        for (std::size_t i = 0; i < entries.size(); ++i) {
            if (entries[i].first == text)
                return int(i);
        }
        return -1;
    }
};
