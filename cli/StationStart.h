#pragma once
// Starting the station for a command that needs the devices.
#include <memory>

#include "app/Station.h"
#include "cli/Cli.h"

namespace qk::cli {

// The station's start-up up to the first scan; nullptr (exit code set) when it cannot start.
std::unique_ptr<Station> startStation(CliState& state);

}  // namespace qk::cli
