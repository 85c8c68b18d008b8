// The drive a command talks to, as --drive names it, and the one function
// that opens it: a virtual drive in process ("virtual", "virtual:PLANT"), or
// a drive at the end of a wire ("tcp:HOST:PORT[/AXIS]",
// "serial:DEVICE[:BAUD][/AXIS]") reached through the wire protocol. The
// commands, the plug-in and axcore see a DriveLink either way.
#pragma once

#include <memory>
#include <optional>
#include <string>

#include "Commands.h"
#include "axcore/Clock.h"
#include "axcore/DriveLink.h"
#include "axcore/HeadlessPlatform.h"
#include "drivewire/WireLink.h"
#include "virtualdrive/Plant.h"

namespace axhost {

// A drive opened for one run: fresh, as after power-on, with the clock
// whose time it follows.
class OpenedDrive {
 public:
  virtual ~OpenedDrive() = default;
  virtual DriveLink& Link() = 0;
  // Copies every register and constant of the setup into the drive; false
  // with the first refused value (the others are still loaded).
  virtual bool LoadSetup(const CMC_Setup& setup, std::string& error) = 0;
  // The bench actions of a script on this drive and motor.
  virtual axcore::BenchHandler Bench() = 0;
  // The drive variables the last program run wrote (a virtual drive's
  // record; none from a drive that keeps none).
  virtual std::vector<std::string> WrittenVariables() const = 0;
};

class ChosenDrive {
 public:
  const std::string& Spec() const { return m_spec; }
  // The plant the drive simulates (a served virtual drive gives its own);
  // null for a drive that simulates none (a real drive).
  const virtualdrive::PlantParameters* Plant() const { return m_plant ? &*m_plant : nullptr; }
  // "of the example", or the plant file, or the drive at the end of the wire.
  const std::string& PlantSource() const { return m_plantSource; }
  bool OverWire() const { return m_wire != nullptr; }
  // A fresh drive following `clock`: in process a new virtual drive; over a
  // wire the drive restarted. Null, with one line in `error`, when the
  // drive does not answer.
  std::unique_ptr<OpenedDrive> Open(const Clock* clock, std::string& error) const;
  // Over a wire, what the link met: requests, retries and why; "" in process.
  std::string LinkReport() const;
  // Over a wire, the lost-link text once the link is lost; "" otherwise. A
  // test that failed because of it may give only its own text (an upload
  // that failed is "The drive did not run the test as expected"): the
  // command adds this one.
  std::string LostLink() const { return m_wire ? m_wire->LostText() : std::string(); }
  // `failure`, with the lost-link text after it when the link was lost and
  // the failure does not say so already.
  std::string WithLostLink(const std::string& failure) const {
    const std::string lost = LostLink();
    return lost.empty() || failure.find(lost) != std::string::npos ? failure : failure + "; " + lost;
  }
  // Whether the link's counts are to be printed after the run (a link over
  // a wire, with --verbose).
  bool ReportsLink() const { return m_wire != nullptr && m_reportCounts; }

 private:
  friend std::optional<ChosenDrive> ChooseDrive(const std::string&, const drivewire::LinkOptions&, Io, int&);
  std::string m_spec;
  std::optional<virtualdrive::PlantParameters> m_plant;
  std::string m_plantSource;
  std::shared_ptr<drivewire::WireLink> m_wire;
  bool m_reportCounts = false;
};

// The drive --drive names, connected when it is at the end of a wire.
// Nothing, after an error line and with the exit status in `status`, for a
// spec that names no drive (2), a plant file that is refused (2) or a drive
// that cannot be reached (1).
std::optional<ChosenDrive> ChooseDrive(const std::string& spec, const drivewire::LinkOptions& options, Io io,
                                       int& status);

}  // namespace axhost
