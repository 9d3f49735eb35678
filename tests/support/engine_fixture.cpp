#include "support/engine_fixture.h"

#include <chrono>
#include <ostream>

#include "atcmd/engine_hooks.h"
#include "atcmd/receive_dispatch.h"
#include "common/records.h"
#include "common/text.h"
#include "platform/clock.h"
#include "platform/window.h"
#include "serial/uart.h"

namespace kx::test {

AdapterPeer::AdapterPeer(std::shared_ptr<ScriptedPort> port, Script script)
    : port_(std::move(port)), script_(std::move(script)) {
  thread_ = std::thread([this] { run(); });
  port_->writeObserver = [this](const std::string& chunk) { onWrite(chunk); };
}

AdapterPeer::~AdapterPeer() {
  port_->writeObserver = nullptr;
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  thread_.join();
}

void AdapterPeer::onWrite(const std::string& chunk) {
  std::vector<std::string> complete;
  {
    std::lock_guard lock(mutex_);
    writes_.emplace_back(monotonicMs(), chunk.size());
    for (char c : chunk) {
      pending_ += c;
      if (c == '\r' || pending_ == "+++") {
        complete.push_back(pending_);
        pending_.clear();
      }
    }
  }
  for (const std::string& command : complete) {
    int nth = 0;
    {
      std::lock_guard lock(mutex_);
      commands_.push_back(command);
      for (const auto& c : commands_) nth += c == command;
    }
    const std::vector<Reply> replies = script_ ? script_(command, nth) : std::vector<Reply>{};
    std::lock_guard lock(mutex_);
    for (const Reply& r : replies) due_.emplace_back(monotonicMs() + r.delayMs, r.bytes);
  }
  cv_.notify_all();
}

void AdapterPeer::run() {
  std::unique_lock lock(mutex_);
  while (!stop_) {
    if (due_.empty()) {
      cv_.wait(lock);
      continue;
    }
    // Earliest due reply first.
    auto next = due_.begin();
    for (auto it = due_.begin(); it != due_.end(); ++it)
      if (it->first < next->first) next = it;
    const long long now = monotonicMs();
    if (next->first > now) {
      cv_.wait_for(lock, std::chrono::milliseconds(next->first - now));
      continue;
    }
    const std::string bytes = next->second;
    due_.erase(next);
    lock.unlock();
    port_->feed(bytes);
    lock.lock();
  }
}

std::vector<std::string> AdapterPeer::commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

bool AdapterPeer::waitCommands(std::size_t n, int timeoutMs) const {
  std::unique_lock lock(mutex_);
  return cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                      [&] { return commands_.size() >= n; });
}

std::vector<std::pair<long long, std::size_t>> AdapterPeer::writes() const {
  std::lock_guard lock(mutex_);
  return writes_;
}

void EngineTest::SetUp() {
  clearUart();
  clearLocalDev();
  clearInquiry();
  clearPair();
  clearRemote();
  resetCommandEngine();
  applyResponseHook = nullptr;
  remoteAnswerReceiver = nullptr;
  localDev.cmdResponse = 1;
  mainWindowHandle = &window;
  installCommandEngine();
}

void EngineTest::TearDown() {
  peer.reset();
  if (uart.isUartActive.load() == 1) UartDeinit();
  serialDeviceFactory = nullptr;
  setClockScale(1.0);
  mainWindowHandle = nullptr;
  applyResponseHook = nullptr;
  remoteAnswerReceiver = nullptr;
  uninstallCommandEngine();
  resetCommandEngine();
}

void EngineTest::openLink() {
  port = std::make_shared<ScriptedPort>();
  useScriptedPort(port);
  copyField(uart.comPort, "/dev/scripted-adapter");
  uart.baud = 19200;
  uart.stopBits = 1;
  uart.parity = PARITY_NONE_FLAG;
  uart.flow = 0;
  ASSERT_EQ(UartInit(), 0);
  window.clear();
}

void EngineTest::startPeer(AdapterPeer::Script script) {
  peer = std::make_unique<AdapterPeer>(port, std::move(script));
}

bool EngineTest::waitUntil(const std::function<bool()>& pred, int timeoutMs) {
  return window.waitFor(pred, timeoutMs);
}

RecordView recordView() {
  std::lock_guard lock(atCommandMutex);
  RecordView v;
  v.command = std::string(fieldView(atCommand.command));
  v.response = std::string(fieldView(atCommand.response));
  v.param = std::string(fieldView(atCommand.param));
  v.rxState = atCommand.rxState;
  v.responseComplete = atCommand.responseComplete;
  v.rxIndex = atCommand.rxIndex;
  v.expectsData = atCommand.expectsData;
  v.showInStatus = atCommand.showInStatus;
  return v;
}

void PrintTo(const RecordView& v, std::ostream* os) {
  *os << "{command " << escapeBytes(v.command) << ", response " << escapeBytes(v.response)
      << ", param " << escapeBytes(v.param) << ", complete " << v.responseComplete << "}";
}

}  // namespace kx::test
