// The worker-thread protocol: a command is answered once, a peeked command
// stays pending until taken, and a client without a worker is refused.
#include "engine/am_thread.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>

namespace {

// Takes commands until 99; for 7 it peeks first and records what it saw.
class ScriptedThread : public CAMThread {
 public:
  ~ScriptedThread() override {
    if (ThreadExists()) CallWorker(99);
    Close();
  }
  std::string log;  // written by the worker before each reply

 protected:
  DWORD ThreadProc() override {
    for (;;) {
      const DWORD command = GetRequest();
      log += std::to_string(command) + " ";
      if (command == 99) {
        Reply(S_OK);
        return 0;
      }
      if (command == 7) {
        // Answer, then wait for the next command by peeking: it must still
        // be there for GetRequest.
        Reply(S_FALSE);
        DWORD peeked = 0;
        while (!CheckRequest(&peeked, 10)) {
        }
        log += "peeked " + std::to_string(peeked) + " ";
        continue;
      }
      Reply(static_cast<HRESULT>(command));
    }
  }
};

TEST(AMThreadTest, CommandsAreAnsweredInOrderAndAPeekedOneIsStillTaken) {
  ScriptedThread thread;
  EXPECT_EQ(thread.CallWorker(1), E_FAIL);
  ASSERT_TRUE(thread.Create());
  EXPECT_TRUE(thread.Create());
  EXPECT_EQ(thread.CallWorker(3), 3);
  EXPECT_EQ(thread.CallWorker(7), S_FALSE);
  EXPECT_EQ(thread.CallWorker(5), 5);
  EXPECT_EQ(thread.CallWorker(99), S_OK);
  thread.Close();
  EXPECT_FALSE(thread.ThreadExists());
  EXPECT_EQ(thread.log, "3 7 peeked 5 5 99 ");
  EXPECT_EQ(thread.CallWorker(1), E_FAIL);
}

}  // namespace
