#pragma once
#include <string>
#include <vector>

#include "framework/fw.h"

namespace qm::framework {

constexpr int IDC_STATIC = -1;
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;

enum class Kind { PushButton, DefPushButton, AutoRadio, GroupBox, Static, Edit, ComboBox };

// Control styles, as the dialog templates name them.
enum Style : unsigned {
  kHidden = 1u << 0,  // created without the visible style
  kTabStop = 1u << 1,
  kBorder = 1u << 2,
  kStaticEdge = 1u << 3,  // "edge"
  kReadOnly = 1u << 4,
  kMultiline = 1u << 5,
  kAutoHScroll = 1u << 6,
  kVScroll = 1u << 7,
  kGroup = 1u << 8,   // starts a group of its own
  kCenter = 1u << 9,  // centred title of a group box
  kDisabled = 1u << 10,
  kDropDown = 1u << 11,  // combo box with an edit field
};

// One control of a dialog template; position and size in dialog units.
struct ControlTemplate {
  int id;  // IDC_STATIC for controls without an id
  Kind kind;
  std::string text;  // UTF-8
  int x, y, w, h;
  unsigned style = 0;
  // What assistive technology reads for a control without a text of its own: an edit's name (a
  // measurement box: "相 电 压 A相/CA线"), a list's label. Controls with a text are read by it.
  std::string name{};
};

struct ComboItems {
  int id;
  std::vector<std::string> items;
};

struct DialogTemplate {
  int resourceId;
  std::string caption;
  std::string fontFace;  // "宋体" or "System"
  int pointSize;
  int w, h;                // dialog units
  bool systemMenu = true;  // close box in the caption
  bool minimizeBox = false;
  std::vector<ControlTemplate> controls;  // template order is tab order
  std::vector<ComboItems> comboItems;     // initialisation data of the combo boxes
};

}  // namespace qm::framework
