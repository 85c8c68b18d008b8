#include "DriveChoice.h"

#include "axcore/MessageText.h"
#include "axcore/Setup.h"
#include "virtualdrive/Bench.h"
#include "virtualdrive/PlantFile.h"
#include "virtualdrive/VirtualDrive.h"

namespace axhost {
namespace {

class InProcessDrive : public OpenedDrive {
 public:
  InProcessDrive(const virtualdrive::PlantParameters& plant, const Clock* clock) : m_drive(plant, clock) {}
  DriveLink& Link() override { return m_drive; }
  bool LoadSetup(const CMC_Setup& setup, std::string& error) override { return m_drive.LoadSetup(setup, &error); }
  axcore::BenchHandler Bench() override { return virtualdrive::BenchHandlerFor(m_drive); }
  std::vector<std::string> WrittenVariables() const override { return m_drive.WrittenVariables(); }

 private:
  virtualdrive::VirtualDrive m_drive;
};

class WireDrive : public OpenedDrive {
 public:
  explicit WireDrive(std::shared_ptr<drivewire::WireLink> link) : m_link(std::move(link)) {}
  ~WireDrive() override { m_link->SetClock(nullptr); }
  DriveLink& Link() override { return *m_link; }
  // The same values, rounded the same way, as a drive in process loads.
  bool LoadSetup(const CMC_Setup& setup, std::string& error) override {
    bool all = true;
    for (const auto& parameter : setup.Parameters()) {
      const ParameterKind kind = parameter->GetKind();
      if (kind != ParameterKind::Register && kind != ParameterKind::Constant) continue;
      std::string refused;
      const bool integer = kind == ParameterKind::Register || parameter->IsInt();
      if (!m_link->LoadRegister(parameter->GetName(), parameter->GetValueInBaseUnit(), integer, refused)) {
        if (all) error = refused;
        all = false;
      }
    }
    return all;
  }
  std::vector<std::string> WrittenVariables() const override {
    std::vector<std::string> names;
    std::string error;
    m_link->WrittenVariables(names, error);
    return names;
  }
  axcore::BenchHandler Bench() override {
    return [link = m_link](const axcore::BenchAction& action, std::string& why) {
      if (action.kind == axcore::BenchAction::Kind::AnalogueInput) return link->BenchAnalogue(action.volts, why);
      return link->BenchMove(action.distance_m, action.duration_s, why);
    };
  }

 private:
  std::shared_ptr<drivewire::WireLink> m_link;
};

}  // namespace

std::unique_ptr<OpenedDrive> ChosenDrive::Open(const Clock* clock, std::string& error) const {
  if (!m_wire) return std::make_unique<InProcessDrive>(*m_plant, clock);
  m_wire->SetClock(clock);
  if (!m_wire->Restart(error)) {
    m_wire->SetClock(nullptr);
    return nullptr;
  }
  return std::make_unique<WireDrive>(m_wire);
}

std::string ChosenDrive::LinkReport() const {
  if (!m_wire) return "";
  const drivewire::LinkCounts& c = m_wire->Counts();
  return "the link to the drive at " + m_spec + ": " + std::to_string(c.requests) + " requests, " +
         std::to_string(c.retries) + " sent again (" + std::to_string(c.timeouts) + " unanswered in time, " +
         std::to_string(c.damaged) + " damaged frames), " + std::to_string(c.pushed) + " drive messages, " +
         std::to_string(c.pushesLost) + " lost";
}

std::optional<ChosenDrive> ChooseDrive(const std::string& spec, const drivewire::LinkOptions& options, Io io,
                                       int& status) {
  ChosenDrive chosen;
  chosen.m_spec = spec;
  chosen.m_reportCounts = options.reportCounts;
  status = kExitBadInput;
  if (spec == "virtual") {
    chosen.m_plant = virtualdrive::ExamplePlant();
    chosen.m_plantSource = "of the example";
    return chosen;
  }
  if (spec.rfind("virtual:", 0) == 0 && spec.size() > 8) {
    virtualdrive::PlantLoad load = virtualdrive::LoadPlantFile(spec.substr(8));
    if (!load.plant) {
      PrintError(io.err, load.error);
      return std::nullopt;
    }
    chosen.m_plant = *load.plant;
    chosen.m_plantSource = spec.substr(8);
    return chosen;
  }
  if (!drivewire::IsWireSpec(spec)) {
    PrintError(io.err, "--drive " + axcore::QuoteForMessage(spec) +
                           ": unknown drive (use virtual, virtual:PLANT, tcp:HOST:PORT[/AXIS] or "
                           "serial:DEVICE[:BAUD][/AXIS])");
    return std::nullopt;
  }
  std::string error;
  if (!drivewire::ParseAddress(spec, error)) {
    PrintError(io.err, "--drive " + axcore::QuoteForMessage(spec) + ": " + error);
    return std::nullopt;
  }
  status = kExitFailed;
  std::shared_ptr<drivewire::WireLink> link = drivewire::WireLink::Connect(spec, options, error);
  if (!link) {
    PrintError(io.err, error);
    return std::nullopt;
  }
  // A virtual drive behind the wire says what it simulates, so that the
  // checks before a test and the commissioning report see the plant they
  // see in process; a real drive knows no such message and is taken as it
  // is, without the plant's truths.
  std::string text;
  if (!link->PlantText(text, error)) {
    PrintError(io.err, "the drive at " + spec + " does not give its plant: " + error);
    return std::nullopt;
  }
  chosen.m_plantSource = "at " + spec;
  if (!text.empty()) {
    virtualdrive::PlantLoad load = virtualdrive::ParsePlant(text, "the plant of the drive at " + spec);
    if (!load.plant) {
      PrintError(io.err, load.error);
      return std::nullopt;
    }
    chosen.m_plant = *load.plant;
    chosen.m_plantSource = "served at " + spec;
  }
  chosen.m_wire = std::move(link);
  status = kExitOk;
  return chosen;
}

}  // namespace axhost
