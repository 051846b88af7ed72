// The selection logic driven through a recording OptionGroup and Elevation, with
// the in-memory registry below it, all three writing to one log.

#include <gtest/gtest.h>

#include "tests/support/FakeRegistry.h"
#include "tests/support/RecordingGroup.h"

namespace {

using fake::StoredValue;
using namespace std::string_literals;

constexpr char kKey[] = "Software\\AGEIA Technologies";
constexpr char kName[] = "HwSelection";
const StoredValue kGpu{REG_SZ, "GPU\0"s};
const StoredValue kCpu{REG_SZ, "CPU\0"s};

class SelectionLogic : public testing::Test {
protected:
    void SetUp() override
    {
        registry.Reset();
        registry.onCall = [this](const fake::Call& call) {
            std::string entry = fake::NameOf(call.function);
            if (call.function == fake::Function::RegSetValueExA)
                entry += " " + call.data;
            log.push_back(call.status == 0 ? entry : entry + " failed");
        };
        SetElevation(&elevation);
    }
    void TearDown() override
    {
        EXPECT_TRUE(registry.open.empty());
        SetElevation(nullptr);
    }
    void Store(const std::optional<StoredValue>& value)
    {
        if (value)
            registry.Put(kKey, kName, *value);
    }
    std::optional<StoredValue> Stored() const { return registry.Get(kKey, kName); }
    void Load()
    {
        ApplyStoredSelection(group);
        log.clear();
    }
    static std::array<bool, 3> Only(Option option)
    {
        std::array<bool, 3> selected{};
        selected[static_cast<std::size_t>(option)] = true;
        return selected;
    }

    fake::Registry& registry = fake::TheRegistry();
    Log log;
    RecordingGroup group{log};
    RecordingElevation elevation{log};
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

struct LoadCase {
    const char* name;
    friend void PrintTo(const LoadCase& c, std::ostream* os) { *os << c.name; }
    std::optional<StoredValue> stored;
    Log read;
    Log shows;
    std::optional<StoredValue> after = std::nullopt; // none: left as it was
};

class ApplyStoredSelection_Load : public SelectionLogic, public testing::WithParamInterface<LoadCase> {};

// Comparisons are exact; only GPU and CPU are written back.
TEST_P(ApplyStoredSelection_Load, ReadsOnceAndShowsTheState)
{
    Store(GetParam().stored);
    ApplyStoredSelection(group);
    EXPECT_EQ(log, Concat({GetParam().read, GetParam().shows}));
    EXPECT_EQ(Stored(), GetParam().after ? GetParam().after : GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    StoredData, ApplyStoredSelection_Load,
    testing::Values(LoadCase{"Gpu", kGpu, kReadText, kShowsGpu},
                    LoadCase{"Cpu", kCpu, kReadText, kShowsCpu},
                    LoadCase{"GpuWithoutNul_RewrittenWithIt", StoredValue{REG_SZ, "GPU"}, kReadText, kShowsGpu, kGpu},
                    LoadCase{"LowerCase", StoredValue{REG_SZ, "gpu\0"s}, kReadText, kShowsCustom},
                    LoadCase{"TrailingSpace", StoredValue{REG_SZ, "GPU \0"s}, kReadText, kShowsCustom},
                    LoadCase{"LeadingSpace", StoredValue{REG_SZ, " CPU\0"s}, kReadText, kShowsCustom},
                    LoadCase{"DwordOne", StoredValue{REG_DWORD, "\1\0\0\0"s}, kReadText, kShowsCustom},
                    LoadCase{"KeyMissing", std::nullopt, kReadNoKey, kShowsNotDetected},
                    LoadCase{"EmptyText", StoredValue{REG_SZ, "\0"s}, kReadText, kShowsNotDetected},
                    LoadCase{"ExpandText", StoredValue{REG_EXPAND_SZ, "GPU\0"s}, kReadTypeOnly, kShowsNotDetected},
                    LoadCase{"MultiText", StoredValue{REG_MULTI_SZ, "GPU\0\0"s}, kReadTypeOnly, kShowsNotDetected}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SelectionLogic, ApplyStoredSelection_RewriteFails_Silently)
{
    Store(kCpu);
    registry.setStatus = ERROR_ACCESS_DENIED;
    ApplyStoredSelection(group);
    EXPECT_EQ(log, Concat({kReadText, {"clear Option1", "select Option2", "{", "RegCreateKeyA",
                                       "RegSetValueExA CPU\0 failed"s, "RegCloseKey", "}", "clear Option3", "hide Option3"}}));
}

enum class Token { None, Limited, Elevated };

struct SelectionCase {
    const char* name;
    friend void PrintTo(const SelectionCase& c, std::ostream* os) { *os << c.name; }
    std::optional<StoredValue> stored;
    Option chosen;
    LONG setStatus;
    bool refuseCreate;
    Token token;
    bool answerYes;
    std::int32_t restart;
    Log afterWrite; // what follows the write, inside the click handler
    Option shown;   // selected in the end
};

class UserSelection : public SelectionLogic, public testing::WithParamInterface<SelectionCase> {};

// A refused choice is put back, with no second write and no click, and explained;
// a restart as administrator is offered only where one could store it.
TEST_P(UserSelection, StoredOrRestoredAndExplained)
{
    const SelectionCase& c = GetParam();
    Store(c.stored);
    elevation.elevated = c.token == Token::Elevated;
    SetElevation(c.token == Token::None ? nullptr : &elevation);
    Load();
    registry.setStatus = c.setStatus;
    registry.refuseCreate = c.refuseCreate;
    elevation.restart = c.restart;
    group.answerYes = c.answerYes;
    group.SetValue(c.chosen, true);

    const std::string text = c.chosen == Option::Option1 ? "GPU" : "CPU";
    const std::string refused = c.refuseCreate ? " failed" : "";
    EXPECT_EQ(log, Concat({{"select " + NameOf(c.chosen), "{", "RegCreateKeyA" + refused,
                            "RegSetValueExA " + text + '\0' + (c.setStatus || c.refuseCreate ? " failed" : ""),
                            "RegCloseKey" + refused},
                           c.afterWrite,
                           {"}"}}));
    EXPECT_EQ(group.selected, Only(c.shown));
    EXPECT_EQ(Stored(), (c.shown == c.chosen ? StoredValue{REG_SZ, text + '\0'} : c.stored));
}

constexpr LONG kDenied = ERROR_ACCESS_DENIED;
constexpr LONG kOther = ERROR_INVALID_HANDLE;
constexpr std::int32_t kStarted = 0;
constexpr std::int32_t kCancelled = kErrorCancelled;
constexpr std::int32_t kNotFound = ERROR_FILE_NOT_FOUND;

INSTANTIATE_TEST_SUITE_P(
    Choices, UserSelection,
    testing::Values(
        SelectionCase{"GpuFromNotDetected_CreatesTheKey", std::nullopt, Option::Option1, 0, false, Token::Limited,
                      false, kStarted, {}, Option::Option1},
        SelectionCase{"Elevated_Denied_ExplainedWithoutOffer", kCpu, Option::Option1, kDenied, false,
                      Token::Elevated, true, kStarted, {"restore Option2", "not saved 5"}, Option::Option2},
        SelectionCase{"NoToken_Denied_ExplainedWithoutOffer", kGpu, Option::Option2, kDenied, false, Token::None, true,
                      kStarted, {"restore Option1", "not saved 5"}, Option::Option1},
        SelectionCase{"Limited_OtherError_ExplainedWithoutOffer", StoredValue{REG_SZ, "HW\0"s}, Option::Option2, kOther, false,
                      Token::Limited, true, kStarted, {"restore Option3", "not saved 6"}, Option::Option3},
        SelectionCase{"Limited_KeyNotCreatable_Offered", std::nullopt, Option::Option1, 0, true, Token::Limited,
                      false, kStarted, {"restore Option3", "offer restart 5"}, Option::Option3},
        SelectionCase{"Limited_Denied_No", kGpu, Option::Option2, kDenied, false, Token::Limited, false, kStarted,
                      {"restore Option1", "offer restart 5"}, Option::Option1},
        SelectionCase{"Limited_Denied_Yes_Started_Closes", kGpu, Option::Option2, kDenied, false, Token::Limited,
                      true, kStarted, {"restore Option1", "offer restart 5", "restart", "close"}, Option::Option1},
        SelectionCase{"Limited_Denied_Yes_Declined_StaysRestored", kCpu, Option::Option1, kDenied, false,
                      Token::Limited, true, kCancelled, {"restore Option2", "offer restart 5", "restart"},
                      Option::Option2},
        SelectionCase{"Limited_Denied_Yes_Failed_Explained", kCpu, Option::Option1, kDenied, false, Token::Limited,
                      true, kNotFound, {"restore Option2", "offer restart 5", "restart", "not restarted 2"},
                      Option::Option2}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SelectionLogic, RefusedThenAccepted_RestoresTheLastStoredChoice)
{
    elevation.elevated = true;
    Store(kCpu);
    Load();
    group.SetValue(Option::Option1, true);
    registry.setStatus = ERROR_ACCESS_DENIED;
    group.SetValue(Option::Option2, true);
    EXPECT_EQ(group.selected, Only(Option::Option1));
    EXPECT_EQ(Stored(), kGpu);
}

// Where virtualisation cannot be turned off, a stored choice may have gone to this
// account's virtual store: the user is told so, and the options stay as chosen.
TEST_F(SelectionLogic, Virtualized_StoredChoiceToldItIsForThisAccountOnly)
{
    for (const bool canTurnOff : {false, true}) {
        SCOPED_TRACE(canTurnOff ? "turned off" : "cannot be turned off");
        log.clear();
        Store(kCpu);
        elevation.virtualized = true;
        elevation.canTurnOff = canTurnOff;
        ApplyStoredSelection(group);
        EXPECT_EQ(std::count(log.begin(), log.end(), "this account only 0"), 0) << "the load step's rewrite";
        log.clear();
        group.SetValue(Option::Option1, true);
        Log expected = {"select Option1", "{", "RegCreateKeyA", "RegSetValueExA GPU\0"s, "RegCloseKey"};
        if (!canTurnOff)
            expected.push_back("this account only 0");
        expected.push_back("}");
        EXPECT_EQ(log, expected);
        EXPECT_EQ(group.selected, Only(Option::Option1));
    }
}

TEST_F(SelectionLogic, ClickHandler_OptionNotSelected_DoesNothing)
{
    Load();
    Option1_Click(group);
    Option2_Click(group);
    EXPECT_TRUE(log.empty());
}

} // namespace
