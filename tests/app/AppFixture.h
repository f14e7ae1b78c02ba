#pragma once
#include "CurrentRun.h"
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

class EmptyAppTest : public AppTest {
protected:
    bool withSample() const override { return false; }
};
