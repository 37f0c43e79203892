#pragma once

// Control ids of the slave address dialog, template 146.
namespace qm::ui::slave_addr_ids {

inline constexpr int kTemplate = 146;
inline constexpr int kAddress = 1000;

}  // namespace qm::ui::slave_addr_ids
