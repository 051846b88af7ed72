#pragma once
// An OptionGroup that behaves as the window must, and an Elevation whose answers a
// test sets. Both write what is asked of them to one log, in the tests' own words
// (captions are plain ASCII), so that a test sees the order of everything and the
// nesting of the click handlers.

#include <array>
#include <string>
#include <vector>

#include "window/SelectionLogic.h"

using Log = std::vector<std::string>;

inline std::string NameOf(Option option)
{
    return "Option" + std::to_string(static_cast<int>(option) + 1);
}

class RecordingGroup final : public OptionGroup {
public:
    explicit RecordingGroup(Log& log) : log_(log) {}

    // Selecting an unselected option puts the whole group's state in force, then
    // runs the option's click handler, between braces in the log, before returning.
    void SetValue(Option option, bool selected) override
    {
        log_.push_back((selected ? "select " : "clear ") + NameOf(option));
        const bool raise = selected && !GetValue(option) && option != Option::Option3;
        if (selected)
            this->selected = {};
        this->selected[Index(option)] = selected;
        if (raise) {
            log_.push_back("{");
            (option == Option::Option1 ? Option1_Click : Option2_Click)(*this);
            log_.push_back("}");
        }
    }
    bool GetValue(Option option) override { return selected[Index(option)]; }
    void SetVisible(Option option, bool shown) override { log_.push_back((shown ? "show " : "hide ") + NameOf(option)); }
    void SetCaption(Option option, std::wstring_view caption) override
    {
        log_.push_back("caption " + NameOf(option) + " " + std::string(caption.begin(), caption.end()));
    }
    void RestoreSelection(Option option) override
    {
        log_.push_back("restore " + NameOf(option));
        selected = {};
        selected[Index(option)] = true;
    }
    void Notify(Notice notice, std::int32_t status) override
    {
        constexpr const char* words[] = {"not saved ", "this account only ", "not restarted "};
        log_.push_back(words[static_cast<int>(notice)] + std::to_string(status));
    }
    bool OfferRestartAsAdministrator(std::int32_t status) override
    {
        log_.push_back("offer restart " + std::to_string(status));
        return answerYes;
    }
    void Close() override { log_.push_back("close"); }

    std::array<bool, 3> selected{};
    bool answerYes = false;

private:
    static std::size_t Index(Option option) { return static_cast<std::size_t>(option); }
    Log& log_;
};

class RecordingElevation final : public Elevation {
public:
    explicit RecordingElevation(Log& log) : log_(log) {}

    void TurnOffVirtualization() override
    {
        log_.push_back("virtualization off");
        virtualized = virtualized && !canTurnOff;
    }
    bool IsVirtualized() override { return virtualized; }
    bool IsElevated() override { return elevated; }
    std::int32_t RestartAsAdministrator() override
    {
        log_.push_back("restart");
        return restart;
    }

    bool virtualized = false;
    bool canTurnOff = true;
    bool elevated = false;
    std::int32_t restart = 0; // what the launcher returns
private:
    Log& log_;
};
