// A command text with a line end before its last character would reach the
// adapter as two commands, and the second answer would be credited to the
// next command. Such a text is refused before anything is written.
#include <gtest/gtest.h>

#include <string>

#include "atcmd/transmission.h"
#include "support/engine_fixture.h"

namespace kx::test {
namespace {

class LineEnd : public EngineTest {};

TEST_F(LineEnd, EmbeddedLineEndsAreRefusedUnwritten) {
  openLink();
  startPeer([](const std::string&, int) -> std::vector<Reply> { return {{0, "\r\nOK\r\n"}}; });
  for (const char* text : {"AT+PIN=NULL\r\xF2\r", "AT+NAME=a\rb\r", "AT+NAME=a\nb\r", "\rAT\r",
                           "AT+NAME=x\ny\r"}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(sendATCommand(text, 0, 0, 300), 1);
  }
  EXPECT_TRUE(peer->commands().empty());
  EXPECT_EQ(port->takeWritten(), "");
  // A text ending in its one CR still goes out and gets its own answer.
  EXPECT_EQ(sendATCommand("AT+NAME=ab\r", 0, 0, 3000), 0);
  EXPECT_EQ(recordView().response, "\r\nOK\r\n");
  EXPECT_EQ(peer->commands(), std::vector<std::string>{"AT+NAME=ab\r"});
}

}  // namespace
}  // namespace kx::test
