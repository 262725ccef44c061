// The wizards' dialog templates as data: every control with its id, kind, text and position in
// dialog units, for the views that build the pages from them. They come from the same list
// (wizard_templates.inc) that the resource script compiles into nvinstall.dll.
#pragma once

#include "platform/win32.h"
#include "resources/wizard_ids.h"
#include "resources/wizard_texts.h"

namespace wiztemplate {

enum class Kind { kLabel, kValueLabel, kGroupBox, kButton, kRadio, kEdit, kIpAddress, kList };

struct Control {
    int id;  // -1: a static control without an id
    Kind kind;
    const WCHAR* text;
    int x, y, width, height;  // dialog units
};

struct Template {
    int id;
    int width, height;  // dialog units
    const WCHAR* caption;
    const WCHAR* fontName;
    int fontPoints;
    const Control* controls;
    int controlCount;
};

#define NV_CONTROL(kind, id, text, x, y, width, height) \
    Control{id, Kind::k##kind, NV_W(text), x, y, width, height},

inline constexpr WCHAR kCaption[] = NV_W(NV_WIZARD_CAPTION);
inline constexpr WCHAR kFont[] = NV_W(NV_WIZARD_FONT);

inline constexpr Control kListPage[] = {NV_LIST_PAGE_CONTROLS(NV_CONTROL)};
inline constexpr Control kSettingsPage[] = {NV_SETTINGS_PAGE_CONTROLS(NV_CONTROL)};
inline constexpr Control kAddressPage[] = {NV_ADDRESS_PAGE_CONTROLS(NV_CONTROL)};
inline constexpr Control kAddressSettingsPage[] = {NV_ADDRESS_SETTINGS_PAGE_CONTROLS(NV_CONTROL)};
#undef NV_CONTROL

#define NV_TEMPLATE(id, controls)                                                            \
    Template {                                                                               \
        id, NV_PAGE_WIDTH, NV_PAGE_HEIGHT, kCaption, kFont, NV_WIZARD_FONT_POINTS, controls, \
            sizeof(controls) / sizeof(controls[0])                                           \
    }

inline constexpr Template kTemplates[] = {
    NV_TEMPLATE(IDD_LIST_PAGE, kListPage),
    NV_TEMPLATE(IDD_SETTINGS_PAGE, kSettingsPage),
    NV_TEMPLATE(IDD_ADDRESS_PAGE, kAddressPage),
    NV_TEMPLATE(IDD_ADDRESS_SETTINGS_PAGE, kAddressSettingsPage),
};
#undef NV_TEMPLATE

inline const Template* Find(int id) {
    for (const Template& t : kTemplates) {
        if (t.id == id) {
            return &t;
        }
    }
    return nullptr;
}

}  // namespace wiztemplate
