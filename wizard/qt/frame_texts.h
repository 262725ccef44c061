// The texts that the wizard frame and the message boxes bring themselves rather than the
// pages: the buttons as a Chinese (PRC) system labels them. The questions name their answers
// 是 and 否, so the buttons must read the same.
#pragma once

namespace wizard::qtview {

inline constexpr char16_t kBackText[] = u"< 上一步(&B)";
inline constexpr char16_t kNextText[] = u"下一步(&N) >";
inline constexpr char16_t kCancelText[] = u"取消";

inline constexpr char16_t kOkText[] = u"确定";
inline constexpr char16_t kYesText[] = u"是(&Y)";
inline constexpr char16_t kNoText[] = u"否(&N)";

}  // namespace wizard::qtview
