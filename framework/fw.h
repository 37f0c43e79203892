#pragma once

// The dialog layer's namespace, and the short name the dialog classes use for it (as MFC code uses
// its Afx prefix).
namespace qm::framework {}
namespace fw = qm::framework;
