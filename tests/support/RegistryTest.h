#pragma once
// A test on the in-memory registry whose tables run each case afresh: Fresh(name)
// checks that the case before closed every key, starts the fixture over, and names
// the case in any failure that follows.

#include <gtest/gtest.h>

#include <optional>

#include "tests/support/FakeRegistry.h"

class RegistryTest : public testing::Test {
protected:
    void SetUp() override { registry.Reset(); }
    void TearDown() override { EXPECT_TRUE(registry.open.empty()) << "every key opened is closed"; }
    void Fresh(const char* name)
    {
        TearDown();
        SetUp();
        trace_.emplace(__FILE__, __LINE__, name);
    }

    fake::Registry& registry = fake::TheRegistry();

private:
    std::optional<testing::ScopedTrace> trace_;
};
