// The host's communication layer: which drive link is connected, the text of
// the last failure, and the drive's unsolicited messages.
//
// The host talks to one drive at a time. Without a link every drive access
// fails with "no drive connected".
#pragma once

#include <functional>
#include <string>

#include "axcore/DriveLink.h"

class CMC_Comm {
 public:
  using UnsolicitedMsgHandler = std::function<void(const UnsolicitedMessage&)>;

  // Connects a drive (null disconnects). The link is not owned.
  static void SetLink(DriveLink* link);
  // The connected link, or null.
  static DriveLink* GetLink();

  // The reason of the last failed drive access ("" when none failed yet).
  static const std::string& GetLastErrorText();
  static void SetLastErrorText(std::string text);

  // Installs the handler that receives unsolicited messages and returns the
  // one it replaces, so that the caller can restore it.
  static UnsolicitedMsgHandler RegisterReceiveUnsolicitedMsgHandler(UnsolicitedMsgHandler handler);
  // Hands every unsolicited message that arrived to the handler; non-zero on
  // success (also when nothing arrived or no handler is installed).
  static int CheckForUnrequestedMessages();
};

// The text every drive access reports while no drive is connected.
inline constexpr const char* kNoDriveConnected = "no drive connected";

// Connects a link for the lifetime of the object and restores the previous
// one afterwards (tests, command-line runs).
class ScopedDriveLink {
 public:
  explicit ScopedDriveLink(DriveLink* link) : m_previous(CMC_Comm::GetLink()) { CMC_Comm::SetLink(link); }
  ~ScopedDriveLink() { CMC_Comm::SetLink(m_previous); }
  ScopedDriveLink(const ScopedDriveLink&) = delete;
  ScopedDriveLink& operator=(const ScopedDriveLink&) = delete;

 private:
  DriveLink* m_previous;
};
