// axdrive: virtual drives served over the wire protocol, one plant per axis
// ID, on a TCP port or a pseudo-terminal, in lockstep with the host's clock
// or on the wall clock.
#include <CLI/CLI.hpp>
#include <fstream>
#include <iostream>

#include "axdrive/DriveServer.h"
#include "axdrive/Network.h"
#include "virtualdrive/PlantFile.h"

namespace {

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitBadInput = 2;

int Serve(const std::vector<std::string>& plants, const std::string& listen, const std::string& clock, double speed,
          const std::string& faultsText, std::uint64_t seed) {
  std::string error;
  const auto faults = axdrive::ParseFaults(faultsText, error);
  if (!faults) {
    std::cerr << "error: --faults: " << error << '\n';
    return kExitBadInput;
  }
  if (!(speed > 0.0 && speed <= 1000.0)) {
    std::cerr << "error: --speed takes a factor above 0, at most 1000\n";
    return kExitBadInput;
  }
  std::vector<axdrive::AxisPlant> axes;
  if (plants.size() > 254) {
    std::cerr << "error: --plant: at most 254 axes\n";
    return kExitBadInput;
  }
  for (std::size_t k = 0; k < std::max<std::size_t>(plants.size(), 1); ++k) {
    axdrive::AxisPlant axis;
    axis.axis = static_cast<std::uint8_t>(k + 1);
    if (plants.empty()) {
      axis.plant = virtualdrive::ExamplePlant();
      axis.plantText = std::string(virtualdrive::ExamplePlantText());
    } else {
      const virtualdrive::PlantLoad load = virtualdrive::LoadPlantFile(plants[k]);
      if (!load.plant) {
        std::cerr << "error: " << load.error << '\n';
        return kExitBadInput;
      }
      axis.plant = *load.plant;
      // What was read is what the host is given: the file's own text.
      std::ifstream in(plants[k], std::ios::binary);
      axis.plantText.assign(std::istreambuf_iterator<char>(in), {});
    }
    axes.push_back(std::move(axis));
  }
  const auto mode = clock == "realtime" ? drivewire::ClockMode::Realtime : drivewire::ClockMode::Lockstep;
  axdrive::DriveServer server(axes, mode, speed);
  axdrive::Network network(server, *faults, seed);
  if (listen == "pty") {
    std::string path;
    if (!network.ListenPty(path, error)) {
      std::cerr << "error: " << error << '\n';
      return kExitFailed;
    }
    std::cout << "listening on serial:" << path << std::endl;
  } else {
    const std::string spec = listen.rfind("tcp:", 0) == 0 ? listen.substr(4) : "";
    const std::size_t colon = spec.rfind(':');
    unsigned long port = 70000;
    if (colon != std::string::npos && colon + 1 < spec.size() &&
        spec.find_first_not_of("0123456789", colon + 1) == std::string::npos && spec.size() - colon <= 6)
      port = std::stoul(spec.substr(colon + 1));
    if (colon == std::string::npos || port > 65535) {
      std::cerr << "error: --listen " << listen << ": not tcp:ADDRESS:PORT or pty\n";
      return kExitBadInput;
    }
    std::uint16_t bound = 0;
    if (!network.ListenTcp(spec.substr(0, colon), static_cast<std::uint16_t>(port), bound, error)) {
      std::cerr << "error: " << error << '\n';
      return kExitFailed;
    }
    std::cout << "listening on tcp:" << spec.substr(0, colon) << ':' << bound << std::endl;
  }
  for (const axdrive::AxisPlant& axis : axes)
    std::cout << "axis " << int{axis.axis} << ": plant "
              << (plants.empty() ? std::string("of the example") : plants[axis.axis - 1u]) << std::endl;
  network.Run(true);
  const axdrive::ServerCounts& s = server.Counts();
  const axdrive::NetworkCounts& n = network.Counts();
  std::cout << "stopped, power stages off: " << s.requests << " requests (" << s.repeated
            << " answered again from memory), " << n.refused << " frames refused, faults: " << n.droppedIn
            << " dropped in, " << n.droppedOut << " dropped out, " << n.corruptedIn << " damaged in, "
            << n.corruptedOut << " damaged out" << std::endl;
  return kExitOk;
}

}  // namespace

int main(int argc, char** argv) {
  CLI::App app{"axdrive: virtual drives behind the drive-link wire protocol, for axhost --drive tcp:... or serial:..."};
  app.require_subcommand(1);
  app.footer("Exit status: 0 stopped on SIGINT or SIGTERM (every power stage off), 1 could not listen, 2 bad arguments.");
  CLI::App* serve = app.add_subcommand(
      "serve", "Serve one virtual drive per --plant (axis IDs 1, 2, ... in the order given; without --plant one "
               "axis of the example plant) until SIGINT or SIGTERM");
  std::vector<std::string> plants;
  std::string listen = "tcp:127.0.0.1:7001";
  std::string clock = "lockstep";
  double speed = 1.0;
  std::string faults;
  std::uint64_t seed = 1;
  serve->add_option("--plant", plants, "A plant file; give one per axis")->type_name("FILE");
  serve->add_option("--listen", listen,
                    "tcp:ADDRESS:PORT (default tcp:127.0.0.1:7001, which only this machine reaches; 0.0.0.0 for "
                    "every interface; port 0: a free port, printed) or pty (a pseudo-terminal pair, its device "
                    "printed for --drive serial:DEVICE)")
      ->type_name("WHERE");
  serve->add_option("--clock", clock,
                    "lockstep: each request carries the host's clock time and the drive first simulates up to it "
                    "(a headless host gets exactly what it gets in process); realtime: the drive follows the "
                    "wall clock times --speed, as hardware does")
      ->check(CLI::IsMember({"lockstep", "realtime"}))
      ->type_name("MODE");
  serve->add_option("--speed", speed, "With --clock realtime, drive seconds per wall-clock second (default 1)")
      ->type_name("X");
  serve->add_option("--faults", faults,
                    "Link faults in both directions, e.g. drop=0.05,corrupt=0.01,delay=2ms,jitter=1ms,cut-after=4s: "
                    "drop and damage frames with these probabilities, delay each frame sent, and after cut-after "
                    "let nothing through")
      ->type_name("FAULTS");
  serve->add_option("--seed", seed, "Seed of the faults' random draws (default 1)");
  CLI11_PARSE(app, argc, argv);
  return Serve(plants, listen, clock, speed, faults, seed);
}
