// The wizards' texts (Simplified Chinese, language 2052), defined once for the page logic and
// every view.
#pragma once

#include "platform/win32.h"
#include "resources/wizard_templates.inc"

// A wide literal from a macro of wizard_templates.inc (expanded before it is made wide).
#define NV_W(text) WSTR(text)

namespace wiztext {

inline constexpr WCHAR kSheetCaption[] = NV_W(NV_SHEET_CAPTION);
inline constexpr WCHAR kPageCaption[] = NV_W(NV_WIZARD_CAPTION);

// Message box titles: the port-exists question and the list page's questions end with a full
// stop; the address page's own checks and its not-found question do not.
inline constexpr WCHAR kErrorTitleWithStop[] = WSTR("NORVA网络打印机安装向导 - 错误.");
inline constexpr WCHAR kErrorTitle[] = WSTR("NORVA网络打印机安装向导 - 错误");

inline constexpr WCHAR kNoPrinterQuestion[] = WSTR(
    "没有找到网络打印机，请确认网络打印机存在或您的PC正确连接在网上.您要重新搜索网络打印机否？"
    "如果选择‘是’将会重新搜索打印机，否则，将按照本地打印机安装。");
inline constexpr WCHAR kPortExistsQuestion[] = WSTR(
    "端口已经存在，您要使用指定的网络打印机？如果'是'将安装此网络打印机，'否'将按本地打印机安装。");
inline constexpr WCHAR kNotFoundQuestion[] = WSTR(
    "指定的打印机不能在网络上找到.请确认IP地址是否正确、打印机设置是否正确并且是联机状态,"
    "或者指定局域网中其他网络打印机的IP地址。选'是'重新指定IP地址或检查网络，选'否'将视为本地打"
    "印机安装");
inline constexpr const WCHAR* kFieldErrors[4] = {
    WSTR("IP 地址非法,在IP地址第一栏中输入有效的数值，再搜索网络打印机。"),
    WSTR("IP 地址非法,在IP地址第二栏中输入有效的数值，再搜索网络打印机。"),
    WSTR("IP 地址非法,在IP地址第三栏中输入有效的数值，再搜索网络打印机。"),
    WSTR("IP 地址非法,在IP地址第四栏中输入有效的数值，再搜索网络打印机。"),
};
inline constexpr WCHAR kHardwareAddressError[] =
    WSTR("硬件地址栏包含无效数值，请输入有效数值，再搜索网络打印机。");

inline constexpr WCHAR kHardwareHelp[] =
    WSTR("根据指定的硬件地址搜索网络打印机.例如:0060b08fbb49。 注意:只有在局域网段可以搜索。");
// The IPv4 help text: this prefix, an example address and a closing "。".
inline constexpr WCHAR kIpHelp[] = WSTR("根据指定的 IP 地址搜索网络打印机,例如:192.168.0.20。");

// The list's columns, all left-aligned and 100 pixels wide.
inline constexpr int kColumnWidth = 100;
inline constexpr const WCHAR* kColumns[5] = {
    WSTR("打印机名称"), WSTR("IP地址"), WSTR("网关"), WSTR("子网掩码"), WSTR("MAC地址"),
};
enum Column { kColumnName = 0, kColumnIp = 1, kColumnGateway = 2, kColumnMask = 3, kColumnMac = 4 };

inline constexpr WCHAR kPortNamePrefix[] = WSTR("NORVA_");

}  // namespace wiztext
