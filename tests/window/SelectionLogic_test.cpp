// The selection logic driven through a recording OptionGroup, with the in-memory
// registry below it. One log holds both the group's operations and the registry
// calls, so the tests see their order and the nesting of the click handlers.

#include <gtest/gtest.h>

#include <array>
#include <string>
#include <vector>

#include "tests/support/FakeRegistry.h"
#include "window/SelectionLogic.h"

namespace {

using namespace std::string_literals;
using Log = std::vector<std::string>;

constexpr char kKey[] = "Software\\AGEIA Technologies";
constexpr char kName[] = "HwSelection";

std::string NameOf(Option option)
{
    return "Option" + std::to_string(static_cast<int>(option) + 1);
}

// Behaves as the window must: selecting an unselected option puts the whole group's
// state in force, then runs the option's handler before returning.
class RecordingGroup final : public OptionGroup {
public:
    explicit RecordingGroup(Log& log) : log_(log) {}

    void SetValue(Option option, bool selected) override
    {
        log_.push_back((selected ? "select " : "clear ") + NameOf(option));
        // Option3 has no click handler.
        const bool raise = selected && !Selected(option) && option != Option::Option3;
        if (selected)
            selected_ = {};
        Selected(option) = selected;
        if (raise) {
            log_.push_back("{");
            if (option == Option::Option1)
                Option1_Click(*this);
            else
                Option2_Click(*this);
            log_.push_back("}");
        }
    }
    bool GetValue(Option option) override { return Selected(option); }
    void SetVisible(Option option, bool shown) override
    {
        log_.push_back((shown ? "show " : "hide ") + NameOf(option));
        visible_[Index(option)] = shown;
    }
    void SetCaption(Option option, std::wstring_view caption) override
    {
        log_.push_back("caption " + NameOf(option));
        captions_[Index(option)] = caption;
    }
    void RestoreSelection(Option option) override
    {
        log_.push_back("restore " + NameOf(option));
        selected_ = {};
        Selected(option) = true;
    }
    void Notify(Notice notice, std::int32_t status) override
    {
        log_.push_back((notice == Notice::NotSaved ? "not saved " : "this account only ") + std::to_string(status));
    }

    // As a user's click does: the option becomes selected and its click is raised.
    void UserSelects(Option option) { SetValue(option, true); }

    std::array<bool, 3> selected_{};
    std::array<bool, 3> visible_{true, true, true};
    std::array<std::wstring, 3> captions_;

private:
    static std::size_t Index(Option option) { return static_cast<std::size_t>(option); }
    bool& Selected(Option option) { return selected_[Index(option)]; }
    Log& log_;
};

class SelectionLogic : public testing::Test {
protected:
    void SetUp() override
    {
        registry.Reset();
        registry.onCall = [this](const fake::Call& call) {
            std::string entry = fake::NameOf(call.function);
            if (call.function == fake::Function::RegSetValueExA)
                entry += " " + call.data;
            if (call.status != 0)
                entry += " failed";
            log.push_back(entry);
        };
        SetVirtualizationQuery(nullptr);
    }
    void TearDown() override
    {
        EXPECT_EQ(registry.OpenHandles(), 0u);
        SetVirtualizationQuery(nullptr);
    }
    void Store(fake::StoredValue value) { registry.Put(kKey, kName, std::move(value)); }
    std::optional<fake::StoredValue> Stored() const { return registry.Get(kKey, kName); }
    void Load()
    {
        ApplyStoredSelection(group);
        log.clear();
    }

    fake::Registry& registry = fake::TheRegistry();
    Log log;
    RecordingGroup group{log};
};

const Log kRead = {"RegOpenKeyA", "RegQueryValueExA", "RegQueryValueExA", "RegCloseKey"};
const Log kReadMissing = {"RegOpenKeyA failed", "RegCloseKey failed"};

Log Concat(Log a, const Log& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

struct StateCase {
    const char* name;
    friend void PrintTo(const StateCase& c, std::ostream* os) { *os << c.name; }
    std::optional<fake::StoredValue> stored;
    Log expected;
    std::array<bool, 3> selected;
    bool option3Shown;
    std::wstring_view option3Caption;
};

class ApplyStoredSelection_State : public SelectionLogic, public testing::WithParamInterface<StateCase> {};

TEST_P(ApplyStoredSelection_State, OperationsInOrder)
{
    if (GetParam().stored)
        Store(*GetParam().stored);
    ApplyStoredSelection(group);
    EXPECT_EQ(log, GetParam().expected);
    EXPECT_EQ(group.selected_, GetParam().selected);
    EXPECT_EQ(group.visible_[2], GetParam().option3Shown);
    EXPECT_EQ(group.captions_[2], GetParam().option3Caption);
}

const Log kWriteGpu = {"{", "RegCreateKeyA", "RegSetValueExA GPU\0"s, "RegCloseKey", "}"};
const Log kWriteCpu = {"{", "RegCreateKeyA", "RegSetValueExA CPU\0"s, "RegCloseKey", "}"};

INSTANTIATE_TEST_SUITE_P(
    FourStates, ApplyStoredSelection_State,
    testing::Values(
        // The write happens inside the selection of Option1, before Option2 is cleared.
        StateCase{"Gpu", fake::StoredValue{REG_SZ, "GPU\0"s},
                  Concat(Concat(Concat(kRead, {"select Option1"}), kWriteGpu),
                         {"clear Option2", "clear Option3", "hide Option3"}),
                  {true, false, false}, false, L""},
        StateCase{"Cpu", fake::StoredValue{REG_SZ, "CPU\0"s},
                  Concat(Concat(Concat(kRead, {"clear Option1", "select Option2"}), kWriteCpu),
                         {"clear Option3", "hide Option3"}),
                  {false, true, false}, false, L""},
        StateCase{"Custom", fake::StoredValue{REG_SZ, "gpu\0"s},
                  Concat(kRead, {"clear Option1", "clear Option2", "select Option3", "show Option3", "caption Option3"}),
                  {false, false, true}, true, kCustomCaption},
        StateCase{"NotDetected", std::nullopt,
                  Concat(kReadMissing,
                         {"clear Option1", "clear Option2", "select Option3", "show Option3", "caption Option3"}),
                  {false, false, true}, true, kNotDetectedCaption}),
    [](const auto& info) { return std::string(info.param.name); });

struct StoredTextCase {
    const char* name;
    friend void PrintTo(const StoredTextCase& c, std::ostream* os) { *os << c.name; }
    fake::StoredValue stored;
    std::array<bool, 3> selected;
    std::wstring_view caption;
};

class ApplyStoredSelection_Text : public SelectionLogic, public testing::WithParamInterface<StoredTextCase> {};

TEST_P(ApplyStoredSelection_Text, ComparedExactlyAndLeftAlone)
{
    Store(GetParam().stored);
    ApplyStoredSelection(group);
    EXPECT_EQ(group.selected_, GetParam().selected);
    EXPECT_EQ(group.captions_[2], GetParam().caption);
    EXPECT_EQ(Stored(), GetParam().stored) << "only GPU and CPU are rewritten";
}

INSTANTIATE_TEST_SUITE_P(
    NotGpuNorCpu, ApplyStoredSelection_Text,
    testing::Values(
        StoredTextCase{"LowerCase", {REG_SZ, "gpu\0"s}, {false, false, true}, kCustomCaption},
        StoredTextCase{"TrailingSpace", {REG_SZ, "GPU \0"s}, {false, false, true}, kCustomCaption},
        StoredTextCase{"LeadingSpace", {REG_SZ, " CPU\0"s}, {false, false, true}, kCustomCaption},
        StoredTextCase{"DwordOne", {REG_DWORD, "\1\0\0\0"s}, {false, false, true}, kCustomCaption},
        StoredTextCase{"DwordZero", {REG_DWORD, "\0\0\0\0"s}, {false, false, true}, kCustomCaption},
        StoredTextCase{"ExpandText", {REG_EXPAND_SZ, "GPU\0"s}, {false, false, true}, kNotDetectedCaption},
        StoredTextCase{"MultiText", {REG_MULTI_SZ, "GPU\0\0"s}, {false, false, true}, kNotDetectedCaption},
        StoredTextCase{"EmptyText", {REG_SZ, "\0"s}, {false, false, true}, kNotDetectedCaption}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SelectionLogic, ApplyStoredSelection_GpuWithoutNul_RewrittenWithNul)
{
    Store({REG_SZ, "GPU"});
    ApplyStoredSelection(group);
    EXPECT_EQ(Stored(), (fake::StoredValue{REG_SZ, "GPU\0"s}));
}

TEST_F(SelectionLogic, ApplyStoredSelection_RewriteFails_Silently)
{
    Store({REG_SZ, "CPU\0"s});
    registry.failSet = true;
    ApplyStoredSelection(group);
    EXPECT_EQ(group.selected_, (std::array{false, true, false}));
    for (const auto& entry : log)
        EXPECT_EQ(entry.find("restore"), std::string::npos) << entry;
    EXPECT_EQ(std::count(log.begin(), log.end(), "not saved 5"), 0);
}

TEST_F(SelectionLogic, UserSelectsGpuFromNotDetected_CreatesKeyAndLeavesOption3ShownCleared)
{
    Load();
    group.UserSelects(Option::Option1);
    EXPECT_EQ(log, Concat({"select Option1"}, kWriteGpu));
    EXPECT_EQ(Stored(), (fake::StoredValue{REG_SZ, "GPU\0"s}));
    EXPECT_EQ(group.selected_, (std::array{true, false, false}));
    EXPECT_TRUE(group.visible_[2]);
    EXPECT_EQ(group.captions_[2], kNotDetectedCaption);
}

TEST_F(SelectionLogic, UserSelectsCpuOverGpu_StoresCpu)
{
    Store({REG_SZ, "GPU\0"s});
    Load();
    group.UserSelects(Option::Option2);
    EXPECT_EQ(log, Concat({"select Option2"}, kWriteCpu));
    EXPECT_EQ(Stored(), (fake::StoredValue{REG_SZ, "CPU\0"s}));
}

struct RefusedCase {
    const char* name;
    friend void PrintTo(const RefusedCase& c, std::ostream* os) { *os << c.name; }
    std::optional<fake::StoredValue> stored;
    Option chosen;
    Option restored;
    bool refuseCreate;
};

class UserSelection_Refused : public SelectionLogic, public testing::WithParamInterface<RefusedCase> {};

// The group goes back to what it showed, with no second write and no click, and the
// user is told with the registry's error.
TEST_P(UserSelection_Refused, RestoresPreviousSelectionAndTellsUser)
{
    if (GetParam().stored)
        Store(*GetParam().stored);
    Load();
    registry.failSet = !GetParam().refuseCreate;
    registry.refuseCreate = GetParam().refuseCreate;
    group.UserSelects(GetParam().chosen);

    const std::string set = "RegSetValueExA "s + (GetParam().chosen == Option::Option1 ? "GPU" : "CPU") + '\0' + " failed";
    const std::string status = std::to_string(GetParam().refuseCreate ? ERROR_INVALID_HANDLE : ERROR_ACCESS_DENIED);
    const std::string create = GetParam().refuseCreate ? "RegCreateKeyA failed" : "RegCreateKeyA";
    const std::string close = GetParam().refuseCreate ? "RegCloseKey failed" : "RegCloseKey";
    EXPECT_EQ(log, (Log{"select " + NameOf(GetParam().chosen), "{", create, set, close,
                        "restore " + NameOf(GetParam().restored), "not saved " + status, "}"}));
    std::array<bool, 3> expected{};
    expected[static_cast<std::size_t>(GetParam().restored)] = true;
    EXPECT_EQ(group.selected_, expected);
    EXPECT_EQ(Stored(), GetParam().stored);
}

INSTANTIATE_TEST_SUITE_P(
    Writes, UserSelection_Refused,
    testing::Values(RefusedCase{"GpuOverCpu", fake::StoredValue{REG_SZ, "CPU\0"s}, Option::Option1, Option::Option2, false},
                    RefusedCase{"CpuOverGpu", fake::StoredValue{REG_SZ, "GPU\0"s}, Option::Option2, Option::Option1, false},
                    RefusedCase{"FromCustom", fake::StoredValue{REG_SZ, "HW\0"s}, Option::Option2, Option::Option3, false},
                    RefusedCase{"KeyNotCreatable", std::nullopt, Option::Option1, Option::Option3, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SelectionLogic, RefusedThenAccepted_RestoresTheLastStoredChoice)
{
    Store({REG_SZ, "CPU\0"s});
    Load();
    group.UserSelects(Option::Option1);
    registry.failSet = true;
    group.UserSelects(Option::Option2);
    EXPECT_EQ(group.selected_, (std::array{true, false, false}));
    EXPECT_EQ(Stored(), (fake::StoredValue{REG_SZ, "GPU\0"s}));
}

TEST_F(SelectionLogic, Virtualized_UserSelectionStored_ToldItIsForThisAccountOnly)
{
    SetVirtualizationQuery([] { return true; });
    Store({REG_SZ, "CPU\0"s});
    ApplyStoredSelection(group);
    EXPECT_EQ(std::count(log.begin(), log.end(), "this account only 0"), 0) << "the load step's rewrite says nothing";
    log.clear();
    group.UserSelects(Option::Option1);
    EXPECT_EQ(log, Concat({"select Option1", "{", "RegCreateKeyA", "RegSetValueExA GPU\0"s, "RegCloseKey",
                           "this account only 0"},
                          {"}"}));
    EXPECT_EQ(group.selected_, (std::array{true, false, false})) << "left as the user set it";
}

TEST_F(SelectionLogic, ClickHandler_OptionNotSelected_DoesNothing)
{
    Load();
    Option1_Click(group);
    Option2_Click(group);
    EXPECT_TRUE(log.empty());
}

} // namespace
