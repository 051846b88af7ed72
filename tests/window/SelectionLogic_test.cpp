// A fresh HardwareSelection per case, driven through a recording OptionGroup,
// Conversation and Elevation, with the in-memory registry below them. All write what
// is asked of them to one log, in the tests' own words (captions are plain ASCII), so
// that a test sees the order of everything and the nesting of the click handlers.

#include <gtest/gtest.h>

#include "tests/support/RegistryTest.h"
#include "window/SelectionLogic.h"

namespace {

using fake::StoredValue;
using Log = std::vector<std::string>;
using namespace std::string_literals;
using enum Option;

std::string NameOf(Option option)
{
    return "Option" + std::to_string(static_cast<int>(option) + 1);
}

// The window the consent prompt must belong to.
const HWND kWindow = reinterpret_cast<HWND>(0x1234);

// Behaves as the window must towards the logic, and answers for the process as a test
// sets it to, writing all that is asked of it to its log.
class Recorder final : public OptionGroup, public Conversation, public Elevation {
public:
    // Selecting an unselected option puts the whole group's state in force, then
    // runs the option's click handler, between braces in the log, before returning.
    void SetValue(Option option, bool select) override
    {
        log.push_back((select ? "select " : "clear ") + NameOf(option));
        const bool raise = select && selected != option && option != Option3;
        if (select)
            selected = option;
        else if (selected == option)
            selected.reset();
        if (raise) {
            log.push_back("{");
            if (option == Option1)
                logic->Option1_Click(*this, *this);
            else
                logic->Option2_Click(*this, *this);
            log.push_back("}");
        }
    }
    bool GetValue(Option option) override { return selected == option; }
    void SetVisible(Option option, bool shown) override { log.push_back((shown ? "show " : "hide ") + NameOf(option)); }
    void SetCaption(Option option, std::wstring_view caption) override
    {
        log.push_back("caption " + NameOf(option) + " " + std::string(caption.begin(), caption.end()));
    }
    void RestoreSelection(Option option) override
    {
        log.push_back("restore " + NameOf(option));
        selected = option;
    }
    void Notify(Notice notice, std::int32_t status) override
    {
        constexpr const char* words[] = {"not saved ",         "needs administrator ", "administrator must change ",
                                         "refused by permissions ", "this account only ", "not restarted "};
        log.push_back(words[static_cast<int>(notice)] + std::to_string(status));
    }
    bool OfferRestartAsAdministrator(std::int32_t status) override
    {
        log.push_back("offer restart " + std::to_string(status));
        return answer.has_value();
    }
    HWND Owner() override { return kWindow; }
    void Close() override { log.push_back("close"); }

    void TurnOffVirtualization() override { log.push_back("virtualization off"); }
    bool IsVirtualized() override { return virtualized; }
    bool IsElevated() override { return elevated; }
    bool IsLimitedAdministrator() override { return limitedAdministrator; }
    bool IsVirtualizationAllowed() override { return virtualizationAllowed; }
    bool DeniesStandardUsersElevation() override { return policyDenies; }
    std::int32_t RestartAsAdministrator(HWND owner) override
    {
        log.push_back(owner == kWindow ? "restart" : "restart without the window");
        return answer.value();
    }

    HardwareSelection* logic = nullptr; // whose click handlers a selection runs
    Log log;
    std::optional<Option> selected;
    // The user's answer to the offer of a restart: none for no; for yes, what the
    // launcher then returns.
    std::optional<std::int32_t> answer;
    bool virtualized = false; // and turning it off does not help
    bool elevated = false;
    bool limitedAdministrator = false;
    bool virtualizationAllowed = false;
    bool policyDenies = false; // standard users' requests for elevation
};

constexpr char kKey[] = "Software\\AGEIA Technologies";
constexpr char kName[] = "HwSelection";
const StoredValue kGpu{REG_SZ, "GPU\0"s};
const StoredValue kCpu{REG_SZ, "CPU\0"s};

// Each case starts with an empty registry, log and group, and a new logic that asks
// the recorder about a process neither elevated nor virtualised.
class SelectionLogic : public RegistryTest {
protected:
    void SetUp() override
    {
        RegistryTest::SetUp();
        recorder = Recorder{};
        registry.log = &log;
        Begin(&recorder);
    }
    // The window's logic, asking elevation (none: nullptr).
    void Begin(Elevation* elevation)
    {
        logic.emplace(elevation);
        recorder.logic = &*logic;
    }
    void Store(const std::optional<StoredValue>& value)
    {
        if (value)
            registry.Put(kKey, kName, *value);
    }
    std::optional<StoredValue> Stored() const { return registry.Get(kKey, kName); }
    void Load()
    {
        logic->ApplyStoredSelection(recorder);
        log.clear();
    }

    Recorder recorder;
    Log& log = recorder.log;
    std::optional<HardwareSelection> logic;
};

Log Concat(std::initializer_list<Log> parts)
{
    Log all;
    for (const Log& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

// What the load step does, in two parts: the read (after virtualisation goes off,
// and by the kind of data found), then what the group is told. In the GPU and CPU
// states the rewrite runs inside the selection.
const Log kReadText = {"virtualization off", "RegOpenKeyA", "RegQueryValueExA", "RegQueryValueExA", "RegCloseKey"};
const Log kReadTypeOnly = {"virtualization off", "RegOpenKeyA", "RegQueryValueExA", "RegCloseKey"};
const Log kReadNoKey = {"virtualization off", "RegOpenKeyA failed", "RegCloseKey failed"};
const Log kWriteGpu = {"{", "RegCreateKeyA", "RegSetValueExA GPU\0"s, "RegCloseKey", "}"};
const Log kWriteCpu = {"{", "RegCreateKeyA", "RegSetValueExA CPU\0"s, "RegCloseKey", "}"};
const Log kShowsGpu = Concat({{"select Option1"}, kWriteGpu, {"clear Option2", "clear Option3", "hide Option3"}});
const Log kShowsCpu = Concat({{"clear Option1", "select Option2"}, kWriteCpu, {"clear Option3", "hide Option3"}});
const Log kShowsCustom = {"clear Option1", "clear Option2", "select Option3", "show Option3",
                          "caption Option3 Custom (probably AGEIA PhysX HW)"};
const Log kShowsNotDetected = {"clear Option1", "clear Option2", "select Option3", "show Option3",
                               "caption Option3 Not detected (probably NV PhysX not installed)"};

// Comparisons are exact; only GPU and CPU are written back, and a refused rewrite is
// not the user's doing: it tells nothing. Nor does the rewrite where writes go to
// this account's virtual store, as they do in every case here.
TEST_F(SelectionLogic, ApplyStoredSelection_ReadsOnceAndShowsTheState)
{
    const struct {
        const char* name;
        std::optional<StoredValue> stored;
        Log read;
        Log shows;
        std::optional<StoredValue> after = std::nullopt; // none: left as it was
        LONG setStatus = ERROR_SUCCESS;
    } cases[] = {
        {"Gpu", kGpu, kReadText, kShowsGpu},
        {"Cpu", kCpu, kReadText, kShowsCpu},
        {"GpuWithoutNul_RewrittenWithIt", StoredValue{REG_SZ, "GPU"}, kReadText, kShowsGpu, kGpu},
        {"Cpu_RewriteRefused_Silently", kCpu, kReadText,
         {"clear Option1", "select Option2", "{", "RegCreateKeyA", "RegSetValueExA CPU\0 failed"s, "RegCloseKey", "}",
          "clear Option3", "hide Option3"}, std::nullopt, ERROR_ACCESS_DENIED},
        {"LowerCase", StoredValue{REG_SZ, "gpu\0"s}, kReadText, kShowsCustom},
        {"TrailingSpace", StoredValue{REG_SZ, "GPU \0"s}, kReadText, kShowsCustom},
        {"LeadingSpace", StoredValue{REG_SZ, " CPU\0"s}, kReadText, kShowsCustom},
        {"DwordOne", StoredValue{REG_DWORD, "\1\0\0\0"s}, kReadText, kShowsCustom},
        {"KeyMissing", std::nullopt, kReadNoKey, kShowsNotDetected},
        {"EmptyText", StoredValue{REG_SZ, "\0"s}, kReadText, kShowsNotDetected},
        {"ExpandText", StoredValue{REG_EXPAND_SZ, "GPU\0"s}, kReadTypeOnly, kShowsNotDetected},
        {"MultiText", StoredValue{REG_MULTI_SZ, "GPU\0\0"s}, kReadTypeOnly, kShowsNotDetected},
    };
    for (const auto& c : cases) {
        Fresh(c.name);
        Store(c.stored);
        registry.setStatus = c.setStatus;
        recorder.virtualized = true;
        logic->ApplyStoredSelection(recorder);
        EXPECT_EQ(log, Concat({c.read, c.shows}));
        EXPECT_EQ(Stored(), c.after ? c.after : c.stored);
    }
}

// A stored choice stays, and where writes go to this account's virtual store the
// user is told that it is for this account only. A refused one is put back, with no
// second write and no click, and explained; a restart as administrator is offered
// only where it raises the rights: not elevated, and either an administrator's
// limited half or a standard user under UAC (UacOff: a standard user without it)
// whose requests for elevation the computer's policy does not turn down.
TEST_F(SelectionLogic, UserSelection_StoredOrPutBackAndExplained)
{
    enum class Token { None, Limited, LimitedPolicyDenies, StandardUnderUac, StandardPolicyDenies, UacOff, Virtualized,
                       Elevated };
    constexpr LONG kDenied = ERROR_ACCESS_DENIED;
    constexpr Token kLimited = Token::Limited;
    const struct {
        const char* name;
        std::optional<StoredValue> stored;
        Option chosen;
        LONG setStatus;
        bool refuseCreate;
        Token token;
        std::optional<std::int32_t> answer; // to the offer: none for no, else what the launcher returns
        Log afterWrite;                     // what follows the write, inside the click handler
    } cases[] = {
        {"GpuFromNotDetected_CreatesTheKey", std::nullopt, Option1, 0, false, kLimited, std::nullopt, {}},
        {"Virtualized_ToldItIsForThisAccountOnly", kCpu, Option1, 0, false, Token::Virtualized, 0,
         {"this account only 0"}},
        {"Elevated_Denied_PermissionsBlamed", kCpu, Option1, kDenied, false, Token::Elevated, 0,
         {"restore Option2", "refused by permissions 5"}},
        {"NoToken_Denied_ExplainedWithoutOffer", kGpu, Option2, kDenied, false, Token::None, 0,
         {"restore Option1", "needs administrator 5"}},
        {"UacOff_Denied_ExplainedWithoutOffer", kGpu, Option2, kDenied, false, Token::UacOff, 0,
         {"restore Option1", "needs administrator 5"}},
        {"StandardUnderUac_Denied_Offered", kGpu, Option2, kDenied, false, Token::StandardUnderUac, std::nullopt,
         {"restore Option1", "offer restart 5"}},
        {"StandardPolicyDenies_Denied_ExplainedWithoutOffer", kGpu, Option2, kDenied, false,
         Token::StandardPolicyDenies, 0, {"restore Option1", "administrator must change 5"}},
        {"LimitedPolicyDenies_Denied_Offered", kGpu, Option2, kDenied, false, Token::LimitedPolicyDenies, 0,
         {"restore Option1", "offer restart 5", "restart", "close"}},
        {"Limited_OtherError_ExplainedWithoutOffer", StoredValue{REG_SZ, "HW\0"s}, Option2, ERROR_INVALID_HANDLE,
         false, kLimited, 0, {"restore Option3", "not saved 6"}},
        {"Limited_KeyNotCreatable_Offered", std::nullopt, Option1, 0, true, kLimited, std::nullopt,
         {"restore Option3", "offer restart 5"}},
        {"Limited_Denied_No", kGpu, Option2, kDenied, false, kLimited, std::nullopt,
         {"restore Option1", "offer restart 5"}},
        {"Limited_Denied_Yes_Started_Closes", kGpu, Option2, kDenied, false, kLimited, 0,
         {"restore Option1", "offer restart 5", "restart", "close"}},
        {"Limited_Denied_Yes_Declined_StaysPutBack", kCpu, Option1, kDenied, false, kLimited, kErrorCancelled,
         {"restore Option2", "offer restart 5", "restart"}},
        {"Limited_Denied_Yes_Failed_Explained", kCpu, Option1, kDenied, false, kLimited, ERROR_FILE_NOT_FOUND,
         {"restore Option2", "offer restart 5", "restart", "not restarted 2"}},
    };
    for (const auto& c : cases) {
        Fresh(c.name);
        Store(c.stored);
        recorder.elevated = c.token == Token::Elevated;
        recorder.virtualized = c.token == Token::Virtualized;
        recorder.limitedAdministrator = c.token == Token::Limited || c.token == Token::LimitedPolicyDenies;
        recorder.virtualizationAllowed = c.token == Token::StandardUnderUac || c.token == Token::StandardPolicyDenies ||
                                         c.token == Token::Virtualized;
        recorder.policyDenies = c.token == Token::LimitedPolicyDenies || c.token == Token::StandardPolicyDenies;
        if (c.token == Token::None)
            Begin(nullptr);
        Load();
        const auto before = recorder.selected;
        registry.setStatus = c.setStatus;
        registry.refuseCreate = c.refuseCreate;
        recorder.answer = c.answer;
        recorder.SetValue(c.chosen, true);

        const std::string text = c.chosen == Option1 ? "GPU"s + '\0' : "CPU"s + '\0';
        const bool refused = c.setStatus || c.refuseCreate;
        const std::string created = c.refuseCreate ? " failed" : "";
        EXPECT_EQ(log, Concat({{"select " + NameOf(c.chosen), "{", "RegCreateKeyA" + created,
                                "RegSetValueExA " + text + (refused ? " failed" : ""), "RegCloseKey" + created},
                               c.afterWrite,
                               {"}"}}));
        EXPECT_EQ(recorder.selected, refused ? before : c.chosen);
        EXPECT_EQ(Stored(), (refused ? c.stored : StoredValue{REG_SZ, text}));
    }
}

TEST_F(SelectionLogic, RefusedThenAccepted_RestoresTheLastStoredChoice)
{
    recorder.elevated = true;
    Store(kCpu);
    Load();
    recorder.SetValue(Option1, true);
    registry.setStatus = ERROR_ACCESS_DENIED;
    recorder.SetValue(Option2, true);
    EXPECT_EQ(recorder.selected, Option1);
    EXPECT_EQ(Stored(), kGpu);
}

} // namespace
