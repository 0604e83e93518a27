#pragma once
// The window's port, speed and address controls, for the settings file's
// tests and its fuzzer. Selecting an entry that is not there throws.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "ui/ConnectionSettings.h"

class FakeControls : public IConnectionControls {
public:
    std::vector<std::string> Com;
    int32_t ComIndex = -1;
    std::vector<std::string> Speed{"1200", "2400", "4800", "9600", "19200", "38400", "57600", "115200"};
    int32_t SpeedIndex = -1;
    std::string Adder;

    std::vector<std::string> ComItems() const override { return Com; }
    void SetComItems(const std::vector<std::string>& Items) override
    {
        Com = Items;
        ComIndex = -1;
    }
    void SetComIndex(int32_t Index) override { ComIndex = Checked(Com, Index); }
    std::string ComText() const override { return ComIndex < 0 ? "" : Com.at(ComIndex); }
    std::vector<std::string> SpeedItems() const override { return Speed; }
    void SetSpeedIndex(int32_t Index) override { SpeedIndex = Checked(Speed, Index); }
    std::string SpeedText() const override { return SpeedIndex < 0 ? "" : Speed.at(SpeedIndex); }
    std::string AdderText() const override { return Adder; }
    void SetAdderText(const std::string& Text) override { Adder = Text; }

    // What the window shows: "port|speed|address".
    std::string Shown() const { return ComText() + "|" + SpeedText() + "|" + Adder; }

private:
    static int32_t Checked(const std::vector<std::string>& Items, int32_t Index)
    {
        if (Index < -1 || Index >= static_cast<int32_t>(Items.size()))
            throw std::out_of_range("index " + std::to_string(Index));
        return Index;
    }
};
