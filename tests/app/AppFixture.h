#pragma once
#include "TestDb.h"
#include "UiTest.h"

#include <gtest/gtest.h>
#include <memory>

// The whole program on a database: the sample one, or empty tables.
class AppTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    virtual bool withSample() const { return true; }

    std::unique_ptr<TestDb> db;
    std::unique_ptr<MessageRecorder> messages;
};

// Makes institution org, its testee and test the current ones, with the restrictions the
// institution, testee and test windows leave behind; false when one of them is not stored.
bool chooseRun(int org, int testee, int test);

class EmptyAppTest : public AppTest {
protected:
    bool withSample() const override { return false; }
};
