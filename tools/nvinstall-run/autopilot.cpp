#include "tools/nvinstall-run/autopilot.h"

#include <QString>
#include <QStringList>

#include "resources/wizard_ids.h"

namespace nvinstallrun {

namespace {

bool AddStep(const QString& step, wizard::qtview::WizardDriver& driver) {
    const QString name = step.section(QLatin1Char('='), 0, 0);
    const QString value = step.section(QLatin1Char('='), 1);
    const bool hasValue = step.contains(QLatin1Char('='));
    if (hasValue && value.isEmpty()) {
        return false;
    }
    if (name == QLatin1String("ip") && hasValue) {
        driver.TypeAddress(value);
    } else if (name == QLatin1String("mac") && hasValue) {
        driver.TypeHardwareAddress(value);
    } else if (name == QLatin1String("row") && hasValue) {
        bool ok = false;
        int row = value.toInt(&ok);
        if (!ok || row < 0) {
            return false;
        }
        driver.SelectRows({row});
    } else if (name == QLatin1String("wait") && hasValue) {
        bool ok = false;
        int ms = value.toInt(&ok);
        if (!ok || ms < 0) {
            return false;
        }
        driver.Wait(ms);
    } else if (hasValue) {
        return false;
    } else if (name == QLatin1String("refresh")) {
        driver.Click(IDC_REFRESH);
    } else if (name == QLatin1String("next")) {
        driver.Next();
    } else if (name == QLatin1String("back")) {
        driver.Back();
    } else if (name == QLatin1String("escape")) {
        driver.Escape();
    } else if (name == QLatin1String("yes")) {
        driver.Answer(QMessageBox::Yes);
    } else if (name == QLatin1String("no")) {
        driver.Answer(QMessageBox::No);
    } else if (name == QLatin1String("ok")) {
        driver.Answer(QMessageBox::Ok);
    } else {
        return false;
    }
    return true;
}

}  // namespace

bool AddSteps(const std::string& plan, wizard::qtview::WizardDriver& driver, std::string* error) {
    const QStringList steps = QString::fromStdString(plan).split(QLatin1Char(','));
    for (const QString& raw : steps) {
        const QString step = raw.trimmed();
        if (!AddStep(step, driver)) {
            *error = "unknown autopilot step '" + step.toStdString() + "'";
            return false;
        }
    }
    return true;
}

}  // namespace nvinstallrun
