// nvwizard-screenshots DIR: walks through both wizards as a user would, with printers from a
// prepared discovery, and saves every page (and two message boxes) as PNG files into DIR.
// scripts/screenshots.sh runs it on an X server of its own (Xvfb) for the README.
#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QWindow>

#include <cstdio>

#include "resources/wizard_ids.h"
#include "tests/wizard/fake_wizard.h"
#include "wizard/qt/application.h"
#include "wizard/qt/qt_frame.h"
#include "wizard/qt/wizard_driver.h"
#include "wizard/sheet.h"
#include "wizard/sheet_by_ip.h"

namespace {

using nvtest::FakeDiscovery;
using nvtest::Ip;
using wizard::qtview::WizardDriver;

constexpr int kSettleMs = 300;  // for a window to be mapped and painted before it is taken

const FakeDiscovery::Printer kPrinters[] = {
    {Ip(192, 168, 0, 20), Ip(255, 255, 255, 0), Ip(192, 168, 0, 1), "0060b08fbb49",
     "NV-2300 财务部"},
    {Ip(192, 168, 0, 31), Ip(255, 255, 255, 0), Ip(192, 168, 0, 1), "0060b08fc012", "NV-4500 前台"},
    {Ip(10, 0, 0, 5), 0, 0, "0060b0901a7c", "NV-1800"},
};

QString gDir;
int gFailures = 0;

// The window as the X server shows it, with the window manager's title bar where there is
// one; as Qt paints it where the server cannot give it.
void Save(QWidget* window, const char* name) {
    QString path = QDir(gDir).filePath(QString::fromLatin1(name));
    QPixmap shot;
    if (window->windowHandle() != nullptr && window->windowHandle()->isExposed()) {
        window->repaint();
        QRect frame = window->frameGeometry();
        shot = window->screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height());
    }
    // A window the server has not shown in full yet grabs as a sliver: Qt paints it instead.
    if (shot.isNull() || shot.width() < window->width() || shot.height() < window->height()) {
        shot = window->grab();
    }
    if (!shot.save(path)) {
        std::fprintf(stderr, "nvwizard-screenshots: cannot write %s\n", qPrintable(path));
        ++gFailures;
        return;
    }
    std::printf("%s\n", qPrintable(path));
}

void SaveWizard(WizardDriver& driver, int page, const char* name) {
    driver.Wait(kSettleMs);
    driver.Do(QStringLiteral("save %1").arg(QLatin1String(name)), page,
              [name] { Save(WizardDriver::Wizard(), name); });
}

void Run(wizard::CWizardSheet& sheet, WizardDriver& driver) {
    driver.Start();
    wizard::qtview::QtWizardFrame frame;
    sheet.RunWizard(frame);
    if (!driver.Finished()) {
        std::fprintf(stderr, "nvwizard-screenshots: %s (not run: %s)\n", qPrintable(driver.Error()),
                     qPrintable(driver.Pending()));
        ++gFailures;
    }
}

void ListWizard(FakeDiscovery& discovery) {
    discovery.searches = {{kPrinters[2], kPrinters[1], kPrinters[0]}};
    wizard::CSheet sheet;
    WizardDriver driver;
    driver.SelectRows({1});
    SaveWizard(driver, IDD_LIST_PAGE, "list-page.png");
    driver.Next();
    SaveWizard(driver, IDD_SETTINGS_PAGE, "list-settings.png");
    driver.Escape();
    Run(sheet, driver);
}

void AddressWizard(FakeDiscovery& discovery) {
    discovery.searches = {{kPrinters[0], kPrinters[1], kPrinters[2]}};
    wizard::CSheetByIP sheet;
    WizardDriver driver;
    driver.TypeAddress(QStringLiteral("192.168.0.20"));
    SaveWizard(driver, IDD_ADDRESS_PAGE, "address-ip.png");
    driver.TypeHardwareAddress(QStringLiteral("0060b08fbb4a"));
    SaveWizard(driver, IDD_ADDRESS_PAGE, "address-hardware.png");
    driver.Next();
    driver.Wait(kSettleMs);
    driver.Answer(QMessageBox::Yes, [](QMessageBox& box) { Save(&box, "address-not-found.png"); });
    driver.TypeAddress(QStringLiteral("224.1.1.1"));
    driver.Next();
    driver.Wait(kSettleMs);
    driver.Answer(QMessageBox::Ok, [](QMessageBox& box) { Save(&box, "address-error.png"); });
    driver.TypeAddress(QStringLiteral("192.168.0.20"));
    driver.Next();
    SaveWizard(driver, IDD_ADDRESS_SETTINGS_PAGE, "address-settings.png");
    driver.Escape();
    Run(sheet, driver);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "Usage: nvwizard-screenshots DIR\n");
        return 2;
    }
    gDir = QString::fromLocal8Bit(argv[1]);
    if (wizard::qtview::EnsureApplication() == nullptr) {
        std::fprintf(stderr, "nvwizard-screenshots: no display\n");
        return 1;
    }
    FakeDiscovery discovery;
    nvtest::ScopedDiscovery scoped(&discovery);
    ListWizard(discovery);
    AddressWizard(discovery);
    return gFailures == 0 ? 0 : 1;
}
