// TaskBuffer, the owner of a task-memory block: it gives its block back once, hands it over
// on release or move, and keeps it when a resize fails.
#include <gtest/gtest.h>

#include <string.h>

#include <utility>

#include "script_host_environment.h"
#include "task_memory.h"

namespace {

class TaskBufferContract : public ::testing::Test {
protected:
    void SetUp() override {
        FailTaskMemoryAfter(-1);
        blocks = TaskMemoryBlocks().stillOpen();
    }
    void TearDown() override {
        FailTaskMemoryAfter(-1);
        EXPECT_EQ(blocks, TaskMemoryBlocks().stillOpen()) << "a block was not given back";
    }
    int Taken() const { return TaskMemoryBlocks().stillOpen() - blocks; }

    int blocks = 0;
};

TEST_F(TaskBufferContract, EmptyOwnerFreesNothing) {
    TaskBuffer<char> buffer;
    EXPECT_FALSE(buffer.valid());
    EXPECT_EQ(nullptr, buffer.get());
}

TEST_F(TaskBufferContract, GivesItsBlockBackAtTheEnd) {
    {
        TaskBuffer<char> buffer = TaskBuffer<char>::Allocate(16);
        ASSERT_TRUE(buffer.valid());
        EXPECT_EQ(1, Taken());
    }
    EXPECT_EQ(0, Taken());
}

TEST_F(TaskBufferContract, ResetFreesTheOldBlock) {
    TaskBuffer<char> buffer = TaskBuffer<char>::Allocate(4);
    buffer.reset(static_cast<char*>(TaskMemAlloc(8)));
    EXPECT_EQ(1, Taken());
    buffer.reset(buffer.get());   // the same block again is not freed under the owner's feet
    EXPECT_EQ(1, Taken());
    buffer.reset();
    EXPECT_EQ(0, Taken());
}

TEST_F(TaskBufferContract, ReleaseAndMoveHandOver) {
    TaskBuffer<int> first = TaskBuffer<int>::Allocate(2);
    TaskBuffer<int> second(std::move(first));
    EXPECT_FALSE(first.valid());
    EXPECT_EQ(1, Taken());
    int* handed = second.release();
    EXPECT_FALSE(second.valid());
    EXPECT_EQ(1, Taken());
    TaskMemFree(handed);
}

TEST_F(TaskBufferContract, FailedResizeKeepsTheBlock) {
    TaskBuffer<char> buffer = TaskBuffer<char>::Allocate(4);
    memcpy(buffer.get(), "abc", 4);
    FailTaskMemoryAfter(0);
    EXPECT_FALSE(buffer.Resize(4096));
    FailTaskMemoryAfter(-1);
    EXPECT_STREQ("abc", buffer.get());
    ASSERT_TRUE(buffer.Resize(4096));
    EXPECT_STREQ("abc", buffer.get());
    EXPECT_EQ(1, Taken());
}

TEST_F(TaskBufferContract, FailedAllocationIsEmpty) {
    FailTaskMemoryAfter(0);
    EXPECT_FALSE(TaskBuffer<char>::Allocate(8).valid());
}

}   // namespace
