#pragma once
// The program's only window: two labels, three option buttons, Close and a banner.
// It owns the selection logic, implements OptionGroup on its option buttons and
// Conversation with message boxes of its own, and turns the user's input into calls
// of that logic.

#include <windows.h>

#include <array>

#include "platform/Handle.h"
#include "window/Form1Layout.h"
#include "window/SelectionLogic.h"

class Form1 final : public OptionGroup, public Conversation {
public:
    // The common controls library, loaded by the caller (null where it could not be
    // loaded): Form_Load initialises it. The selection logic asks elevation about the
    // process (none: nullptr).
    Form1(HMODULE commonControls, Elevation* elevation) noexcept
        : commonControls_(commonControls), selection_(elevation)
    {
    }

    // Creates the window and its controls, runs Form_Load, then shows the window
    // centred. Returns false when the window could not be created.
    bool Create(HINSTANCE instance, int showCommand);

    // Keyboard handling of a dialog, done here because the option buttons are
    // managed by hand. Returns true when the message was handled.
    bool PreTranslateMessage(const MSG& message);

    // OptionGroup
    void SetValue(Option option, bool selected) override;
    bool GetValue(Option option) override;
    void SetVisible(Option option, bool shown) override;
    void SetCaption(Option option, std::wstring_view caption) override;
    void RestoreSelection(Option option) override;

    // Conversation
    void Notify(Notice notice, std::int32_t status) override;
    bool OfferRestartAsAdministrator(std::int32_t status) override;
    HWND Owner() override { return window_; }
    void Close() override;

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) noexcept;

    void OnCreate();
    void OnCommand(int id, int code);
    void OnActivate(bool active);
    void OnSetFocus();
    void OnClose();
    void OnDestroy();

    void Form_Load();
    void Command1_Click();

    HWND Control(ControlId id) const { return controls_[IndexOf(id)]; }
    HWND OptionButton(Option option) const;
    void ShowSelection(Option option);
    void OnOptionClicked(Option option);
    void FocusControl(HWND control);
    HWND InitialFocus() const;
    void MoveFocus(bool backwards);
    // Returns false when the focus is not on an option button.
    bool MoveSelection(HWND from, bool backwards);
    void LoadPictures(HINSTANCE instance);
    // A message box owned by the window: text with "{error}" replaced by the
    // system's description of status. Returns the button pressed.
    int Tell(std::wstring_view text, std::int32_t status, UINT type);

    HMODULE commonControls_;
    HardwareSelection selection_;
    HWND window_ = nullptr;
    // The controls' handles, kept from their creation and found by their place in
    // the layout, so that the window never has to search its children for an id.
    std::array<HWND, kControls.size()> controls_{};
    HWND lastFocus_ = nullptr;
    // Set while the program itself moves the focus: Windows raises a click on an
    // unchecked option button that receives the focus, which is not the user's choice.
    bool movingFocus_ = false;
    unique_hfont font_;
    unique_hicon bigIcon_;
    unique_hicon smallIcon_;
    unique_hbitmap banner_;
};
