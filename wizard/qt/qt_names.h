// The object names of the Qt wizard's widgets: the view sets them, and whoever drives the
// wizard from outside (the tests, nvinstall-run's autopilot) finds the widgets by them alone.
#pragma once

#include <QString>

namespace wizard::qtview {

// The wizard frame (a top-level dialog) and its buttons.
inline constexpr char kWizardName[] = "nvinstall-wizard";
inline constexpr char kBackName[] = "back";
inline constexpr char kNextName[] = "next";
inline constexpr char kCancelName[] = "cancel";

// A page: "page-" and its template id.
inline constexpr char kPagePrefix[] = "page-";
inline QString PageName(int templateId) {
    return QLatin1String(kPagePrefix) + QString::number(templateId);
}
// A control with an id: "control-" and the id.
inline QString ControlName(int id) {
    return QStringLiteral("control-%1").arg(id);
}
// A control without an id (labels, group boxes): "static-" and its place in the template.
inline QString StaticName(int index) {
    return QStringLiteral("static-%1").arg(index);
}
// One of the four fields of the IPv4 address control, 0..3.
inline QString AddressFieldName(int field) {
    return QStringLiteral("field-%1").arg(field);
}

}  // namespace wizard::qtview
