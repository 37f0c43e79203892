#pragma once
#include <cstdint>
#include <string>

#include "link/link_settings.h"

// The texts of the main window's status edit: port, baud rate and parity after each event that sets
// the link. Each event has always had its own blanks, kept here side by side.
namespace qm::ui {

// "校验位:无校验", "校验位:奇校验", "校验位:偶校验"; empty for any other value.
std::string ParityStatusLine(link::Parity parity);

std::string OpenedStatusText(const link::LinkSettings& link);   // the window opened the port
std::string CommSetStatusText(const link::LinkSettings& link);  // the port settings command
std::string ScanHitStatusText(const link::LinkSettings& link);  // the address scan found a meter
std::string FactoryStatusText(const link::LinkSettings& link);  // factory initialisation succeeded

}  // namespace qm::ui
