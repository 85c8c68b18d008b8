#include "axcore/Comm.h"

#include <vector>

namespace {

struct CommState {
  DriveLink* link = nullptr;
  std::string lastError;
  CMC_Comm::UnsolicitedMsgHandler handler;
};

CommState& state() {
  static CommState instance;
  return instance;
}

}  // namespace

void CMC_Comm::SetLink(DriveLink* link) { state().link = link; }

DriveLink* CMC_Comm::GetLink() { return state().link; }

const std::string& CMC_Comm::GetLastErrorText() { return state().lastError; }

void CMC_Comm::SetLastErrorText(std::string text) { state().lastError = std::move(text); }

CMC_Comm::UnsolicitedMsgHandler CMC_Comm::RegisterReceiveUnsolicitedMsgHandler(UnsolicitedMsgHandler handler) {
  UnsolicitedMsgHandler previous = std::move(state().handler);
  state().handler = std::move(handler);
  return previous;
}

int CMC_Comm::CheckForUnrequestedMessages() {
  DriveLink* link = state().link;
  if (link == nullptr) {
    SetLastErrorText(kNoDriveConnected);
    return 0;
  }
  std::vector<UnsolicitedMessage> messages;
  std::string error;
  if (!link->TakeUnsolicitedMessages(messages, error)) {
    SetLastErrorText(error);
    return 0;
  }
  // A handler may replace itself while it runs; each message goes to the
  // handler installed when it is delivered.
  for (const UnsolicitedMessage& message : messages)
    if (state().handler) state().handler(message);
  return 1;
}
