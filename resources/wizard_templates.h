// The wizards' dialog templates as data: every control with its id, kind, text and position in
// dialog units, for the views that build the pages from them.
#pragma once

#include "platform/win32.h"
#include "resources/wizard_ids.h"

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

inline constexpr WCHAR kCaption[] = WSTR("NORVA网络打印机安装向导");
inline constexpr WCHAR kFont[] = WSTR("MS Sans Serif");

inline constexpr Control kListPage[] = {
    {IDC_PRINTER_LIST, Kind::kList, nullptr, 7, 7, 301, 136},
    {IDC_REFRESH, Kind::kButton, WSTR("刷新(&R)"), 15, 144, 39, 16},
};

inline constexpr Control kSettingsPage[] = {
    {-1, Kind::kLabel, WSTR("打印机通信模式:"), 26, 15, 148, 9},
    {-1, Kind::kLabel, WSTR("NORVA TCP/IP 端口"), 47, 30, 74, 8},
    {-1, Kind::kGroupBox, WSTR("TCP/IP 设定"), 35, 48, 254, 95},
    {-1, Kind::kLabel, WSTR("下面是关于指定的打印机的TCP/IP设定."), 45, 65, 231, 10},
    {-1, Kind::kLabel, WSTR("IP地址:"), 58, 79, 52, 9},
    {IDC_SETTING_IP, Kind::kValueLabel, WSTR(""), 140, 80, 88, 8},
    {-1, Kind::kLabel, WSTR("子网掩码:"), 58, 100, 52, 9},
    {IDC_SETTING_MASK, Kind::kValueLabel, WSTR(""), 140, 100, 88, 10},
    {-1, Kind::kLabel, WSTR("网关:"), 58, 121, 52, 9},
    {IDC_SETTING_GATEWAY, Kind::kValueLabel, WSTR(""), 140, 122, 88, 8},
};

inline constexpr Control kAddressPage[] = {
    {-1, Kind::kLabel, WSTR("指定要安装打印机的网络地址."), 7, 13, 148, 9},
    {-1, Kind::kLabel, WSTR("详细列表:"), 29, 28, 46, 8},
    {IDC_HW_RADIO, Kind::kRadio, WSTR("(&H)硬件地址:"), 33, 43, 76, 8},
    {IDC_IP_RADIO, Kind::kRadio, WSTR("(&I)IP地址:"), 33, 64, 76, 8},
    {IDC_HW_ADDRESS, Kind::kEdit, WSTR(""), 141, 38, 100, 13},
    {IDC_IP_ADDRESS, Kind::kIpAddress, WSTR(""), 141, 60, 100, 12},
    {-1, Kind::kGroupBox, WSTR("描述"), 21, 87, 271, 57},
    {IDC_HELP_TEXT, Kind::kLabel, WSTR(""), 26, 98, 257, 41},
};

inline constexpr Control kAddressSettingsPage[] = {
    {-1, Kind::kLabel, WSTR("打印机通信模式:"), 26, 15, 148, 9},
    {-1, Kind::kLabel, WSTR("NORVA TCP/IP 端口"), 47, 30, 74, 8},
    {-1, Kind::kGroupBox, WSTR("TCP/IP 设定"), 35, 48, 254, 95},
    {-1, Kind::kLabel, WSTR("下面是关于指定的打印机的TCP/IP设定."), 45, 65, 231, 10},
    {-1, Kind::kLabel, WSTR("IP地址:"), 58, 82, 52, 9},
    {IDC_SETTING_IP, Kind::kValueLabel, WSTR(""), 140, 80, 88, 11},
    {-1, Kind::kLabel, WSTR("子网掩码:"), 58, 102, 52, 9},
    {IDC_SETTING_MASK, Kind::kValueLabel, WSTR(""), 140, 100, 88, 11},
    {-1, Kind::kLabel, WSTR("网关:"), 58, 122, 52, 9},
    {IDC_SETTING_GATEWAY, Kind::kValueLabel, WSTR(""), 140, 123, 88, 8},
};

#define NV_TEMPLATE(id, controls)                                                          \
    Template {                                                                             \
        id, 315, 166, kCaption, kFont, 8, controls, sizeof(controls) / sizeof(controls[0]) \
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
